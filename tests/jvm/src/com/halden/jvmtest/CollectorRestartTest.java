package com.halden.jvmtest;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.halden.jvmtest.support.ChildJvm;
import com.halden.jvmtest.support.Psdump;
import com.halden.jvmtest.support.TempHome;
import com.halden.jvmtest.workload.PublishWorkload;
import java.util.ArrayList;
import java.util.HashMap;
import java.util.List;
import java.util.Map;
import java.util.Random;
import java.util.regex.Matcher;
import java.util.regex.Pattern;
import org.junit.jupiter.api.Test;

/**
 * A collector (psdump) stopped and started again on its port while the probe
 * runs with its default cycles: a quiet probe brings the new one its hello
 * packet and class records within 3 s, and under steady load no record is lost
 * over ten restarts.
 */
class CollectorRestartTest {
    static final Pattern URL = Pattern.compile("\"url\":\"/r/(\\d+)/(\\d+)\"");
    static final List<String> KINDS = List.of("httpStart", "sqlBegin", "sqlEnd", "httpFinish");
    static final int RESTARTS = 10;

    final List<Psdump> collectors = new ArrayList<>();

    /**
     * Stops the last collector and starts the next; answers the ms from its start to
     * the sampling rates, the last record of the class records' packet after the hello.
     */
    long restart(TempHome home, int port) throws Exception {
        if (!collectors.isEmpty()) collectors.get(collectors.size() - 1).close();
        Psdump next = Psdump.listen(port, home.path().getParent(),
                home.path().getFileName() + "-ps" + collectors.size());
        collectors.add(next);
        long started = System.currentTimeMillis();
        assertTrue(next.waitFor("\"record\":\"samplingRates\"", 15000), "nothing after restart");
        assertTrue(next.lines().get(0).contains("\"packetKind\":\"hello\""), next.lines().get(0));
        return System.currentTimeMillis() - started;
    }

    @Test
    void restartedCollectorsGetTheHelloAtOnceAndEveryRecord() throws Exception {
        try (TempHome home = TempHome.create()) {
            int port = Psdump.freePort();
            try (ChildJvm.Started child = ChildJvm.in(home).launcher(PublishWorkload.class)
                    .property("hm.ps.host", "127.0.0.1").property("hm.ps.port", "" + port)
                    .property("pw.threads", "4").property("pw.pause", "10")
                    .property("pw.plan", "idle:9000,pace:30000,idle:3000").start()) {
                restart(home, port);
                Thread.sleep(500);
                // No traffic: one network cycle notices the close, one
                // publishing cycle sends.
                long quiet = restart(home, port);
                assertTrue(quiet <= 3000, quiet + " ms after a quiet restart");
                child.waitForLine("[pw] phase 1");
                Random random = new Random(22);
                List<Long> underLoad = new ArrayList<>();
                for (int i = 0; i < RESTARTS; i++) {
                    Thread.sleep(300 + random.nextInt(700));
                    underLoad.add(restart(home, port));
                }
                assertEquals(0, child.waitForExit(), child.output());
                collectors.get(collectors.size() - 1).close();

                // Every record of every request reached a collector, none
                // twice on one connection.
                Map<String, String> delivered = new HashMap<>();  // record -> connection
                Map<Long, String> workerOfThread = new HashMap<>();
                for (int c = 0; c < collectors.size(); c++) {
                    for (String line : collectors.get(c).lines()) {
                        if (!KINDS.contains("" + Psdump.field(line, "record"))) continue;
                        String connection = c + "/" + Psdump.number(line, "conn");
                        String record = line.substring(line.indexOf("\"record\":"));
                        assertTrue(!connection.equals(delivered.putIfAbsent(record, connection)),
                                "twice on connection " + connection + ": " + record);
                        Matcher m = URL.matcher(line);
                        if (m.find()) workerOfThread.put(Psdump.number(line, "threadId"), m.group(1));
                    }
                }
                Map<String, Integer> perWorkerAndKind = new HashMap<>();
                for (String record : delivered.keySet()) {
                    perWorkerAndKind.merge(workerOfThread.get(Psdump.number(record, "threadId"))
                            + " " + Psdump.field(record, "record"), 1, Integer::sum);
                }
                long made = 0;
                for (int worker = 0; worker < 4; worker++) {
                    Matcher m = Pattern.compile("\\[pw\\] last " + worker + " (\\d+)").matcher(child.output());
                    assertTrue(m.find(), child.output());
                    long requests = Long.parseLong(m.group(1)) + 1;
                    made += 4 * requests;
                    for (String kind : KINDS) {
                        assertEquals(requests, (long) perWorkerAndKind.getOrDefault(worker + " " + kind, 0),
                                kind + " records of worker " + worker);
                    }
                }
                String log = TempHome.read(home.onlyLogFile());
                int connections = log.split("Successfully connected to PS socket", -1).length - 1;
                assertEquals(2 + RESTARTS, connections, "one connection per collector");
                System.out.println("[restart figures] records made " + made + ", delivered "
                        + delivered.size() + ", reconnections " + (connections - 1)
                        + ", ms to hello and class records after a quiet restart " + quiet
                        + ", after each restart under load " + underLoad);
            } finally {
                for (Psdump p : collectors) p.close();
            }
        }
    }
}
