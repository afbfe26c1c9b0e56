package com.halden.jvmtest;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.halden.jvmtest.support.ChildJvm;
import com.halden.jvmtest.support.Psdump;
import com.halden.jvmtest.support.TempHome;
import com.halden.jvmtest.workload.PublishWorkload;
import java.util.ArrayList;
import java.util.HashMap;
import java.util.HashSet;
import java.util.List;
import java.util.Map;
import java.util.Random;
import java.util.Set;
import java.util.regex.Matcher;
import java.util.regex.Pattern;
import org.junit.jupiter.api.Test;

/**
 * A collector (psdump) that is stopped and started again on its port while
 * the probe runs with its default cycles: a quiet agent brings the new one
 * its hello packet within 3 s, and under steady load no record is lost over
 * ten restarts.
 */
class CollectorRestartTest {
    static final Pattern URL = Pattern.compile("\"url\":\"/r/(\\d+)/(\\d+)\"");
    static final List<String> KINDS = List.of("httpStart", "sqlBegin", "sqlEnd", "httpFinish");
    static final int RESTARTS_UNDER_LOAD = 10;
    static final String HELLO = "\"packetKind\":\"hello\"";

    int generation;
    Psdump collector;

    /** Stops the collector and starts the next one; answers ms from its start to the hello. */
    long restart(TempHome home, int port, List<Psdump> all) throws Exception {
        collector.close();
        collector = Psdump.listen(port, home.path().getParent(),
                home.path().getFileName() + "-ps" + ++generation);
        all.add(collector);
        long started = System.currentTimeMillis();
        assertTrue(collector.waitFor(HELLO, 15000), "no hello after restart " + generation);
        return System.currentTimeMillis() - started;
    }

    @Test
    void restartedCollectorsGetTheHelloAtOnceAndEveryRecord() throws Exception {
        try (TempHome home = TempHome.create()) {
            int port = Psdump.freePort();
            List<Psdump> all = new ArrayList<>();
            collector = Psdump.listen(port, home.path().getParent(), home.path().getFileName() + "-ps0");
            all.add(collector);
            try (ChildJvm.Started child = ChildJvm.in(home).launcher(PublishWorkload.class)
                    .property("hm.ps.host", "127.0.0.1").property("hm.ps.port", "" + port)
                    .property("pw.threads", "4").property("pw.pause", "10")
                    .property("pw.plan", "idle:9000,pace:30000,idle:3000").start()) {
                // No traffic: one network cycle notices the close, one
                // publishing cycle sends the hello and the class records.
                assertTrue(collector.waitFor(HELLO, 20000), "no first hello");
                Thread.sleep(500);
                long quiet = restart(home, port, all);
                assertTrue(quiet <= 3000, "hello " + quiet + " ms after a quiet restart");
                List<String> quietLines = collector.lines();
                assertTrue(quietLines.size() >= 3 && quietLines.get(2).contains("\"record\":\"count\""),
                        quietLines.toString());

                child.waitForLine("[pw] phase 1");
                Random random = new Random(22);
                List<Long> helloMillis = new ArrayList<>();
                for (int i = 0; i < RESTARTS_UNDER_LOAD; i++) {
                    Thread.sleep(300 + random.nextInt(700));
                    helloMillis.add(restart(home, port, all));
                }
                assertEquals(0, child.waitForExit(), child.output());
                collector.close();

                // Every record of every request arrived at one collector or
                // another, and none twice on one connection.
                Map<String, String> delivered = new HashMap<>();  // record -> its first connection
                Map<Long, Integer> workerOfThread = new HashMap<>();
                Map<Integer, Set<Long>> sequences = new HashMap<>();
                for (int c = 0; c < all.size(); c++) {
                    for (String line : all.get(c).lines()) {
                        String kind = Psdump.field(line, "record");
                        if (kind == null || !KINDS.contains(kind)) continue;
                        String connection = c + "/" + Psdump.number(line, "conn");
                        String record = line.substring(line.indexOf("\"record\":"));
                        String before = delivered.putIfAbsent(record, connection);
                        assertTrue(before == null || !before.equals(connection),
                                "twice on connection " + connection + ": " + record);
                        Matcher m = URL.matcher(line);
                        if (m.find()) {
                            int worker = Integer.parseInt(m.group(1));
                            workerOfThread.put(Psdump.number(line, "threadId"), worker);
                            sequences.computeIfAbsent(worker, w -> new HashSet<>())
                                    .add(Long.parseLong(m.group(2)));
                        }
                    }
                }
                Map<String, Integer> perThreadKind = new HashMap<>();
                for (String record : delivered.keySet()) {
                    long thread = Psdump.number(record, "threadId");
                    if (workerOfThread.containsKey(thread)) {
                        perThreadKind.merge(workerOfThread.get(thread) + " "
                                + Psdump.field(record, "record"), 1, Integer::sum);
                    }
                }
                long made = 0;
                for (int worker = 0; worker < 4; worker++) {
                    long requests = lastRequest(child.output(), worker) + 1;
                    made += 4 * requests;
                    assertEquals(requests, sequences.getOrDefault(worker, Set.of()).size(),
                            "requests of worker " + worker);
                    for (String kind : KINDS) {
                        assertEquals(requests, (long) perThreadKind.getOrDefault(worker + " " + kind, 0),
                                kind + " records of worker " + worker);
                    }
                }
                String log = TempHome.read(home.onlyLogFile());
                int connections = log.split("Successfully connected to PS socket", -1).length - 1;
                assertEquals(2 + RESTARTS_UNDER_LOAD, connections, "one connection per start");
                System.out.println("[restart figures] records made " + made + ", delivered "
                        + perThreadKind.values().stream().mapToInt(Integer::intValue).sum()
                        + ", reconnections " + (connections - 1) + ", hello after a quiet restart "
                        + quiet + " ms, after each restart under load " + helloMillis + " ms");
            } finally {
                for (Psdump p : all) p.close();
            }
        }
    }

    /** The sequence number of the worker's last request, as the workload prints it. */
    static long lastRequest(String output, int worker) {
        Matcher m = Pattern.compile("\\[pw\\] last " + worker + " (\\d+)").matcher(output);
        return m.find() ? Long.parseLong(m.group(1)) : -1;
    }
}
