package com.halden.jvmtest;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.halden.jvmtest.support.ChildJvm;
import com.halden.jvmtest.support.Psdump;
import com.halden.jvmtest.support.TempHome;
import com.halden.jvmtest.workload.PublishWorkload;
import java.io.IOException;
import java.net.ServerSocket;
import java.util.HashMap;
import java.util.HashSet;
import java.util.List;
import java.util.Map;
import java.util.Set;
import java.util.concurrent.CopyOnWriteArrayList;
import java.util.regex.Matcher;
import java.util.regex.Pattern;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;

/**
 * The publishing path under collector faults, in real JVMs with the library
 * attached and psdump (or a socket that never reads) as the collector. Short
 * cycles and small limits come from the property file so that each run takes
 * seconds (plus the ten seconds of the stop order).
 */
class PublishFaultTest {
    static final Pattern URL = Pattern.compile("\"url\":\"/r/(\\d+)/(\\d+)\"");

    TempHome home;
    int port;
    final List<AutoCloseable> open = new CopyOnWriteArrayList<>();

    @BeforeEach
    void makeHome() throws IOException {
        home = TempHome.create();
        port = Psdump.freePort();
    }

    @AfterEach
    void cleanUp() throws Exception {
        for (AutoCloseable c : open) c.close();
        home.close();
    }

    /** A child JVM running the publishing workload, not waited for. */
    ChildJvm.Started child(int port, String threads, String plan) throws IOException {
        ChildJvm.Started child = ChildJvm.in(home).launcher(PublishWorkload.class)
                .property("hm.ps.host", "127.0.0.1").property("hm.ps.port", "" + port)
                .property("pw.threads", threads).property("pw.plan", plan).start();
        open.add(child);
        return child;
    }

    /** The last number after "[pw] name " in the child's output. */
    static long figure(ChildJvm.Started child, String name) {
        Matcher m = Pattern.compile("\\[pw\\] " + name + " (\\d+)").matcher(child.output());
        long last = -1;
        while (m.find()) last = Long.parseLong(m.group(1));
        return last;
    }

    Psdump collector(String name) throws Exception {
        Psdump p = Psdump.listen(port, home.path().getParent(), home.path().getFileName() + name);
        open.add(p);
        return p;
    }

    String log() {
        return TempHome.read(home.onlyLogFile());
    }

    static int count(String text, String what) {
        return text.split(Pattern.quote(what), -1).length - 1;
    }

    /** Highest request sequence number per worker among the httpStart lines. */
    static Map<Integer, Long> lastSequence(List<String> httpStarts) {
        Map<Integer, Long> last = new HashMap<>();
        for (String line : httpStarts) {
            Matcher m = URL.matcher(line);
            if (m.find()) last.merge(Integer.parseInt(m.group(1)), Long.parseLong(m.group(2)), Math::max);
        }
        return last;
    }

    @Test
    void collectorLateThenKilledAndRestarted() throws Exception {
        home.writeProperties("internal.probe.publishing.frequency=200\n"
                + "networkagent.publish.frequency=100\n");
        ChildJvm.Started child = child(port, "2", "pace:2500,pace:2500,pace:2500");

        // Nothing listens yet: the requests' records wait in their queues.
        child.waitForLine("[pw] phase 0");
        Thread.sleep(1500);
        Psdump first = collector("-1");
        assertTrue(first.waitFor("\"url\":\"/r/0/0\"", 5000), "the first request arrived late");
        assertTrue(first.waitFor("\"url\":\"/r/1/0\"", 5000));

        // The collector dies; another takes its place on the same port.
        child.waitForLine("[pw] phase 1");
        first.kill();
        Map<Integer, Long> beforeKill = lastSequence(first.records("httpStart"));
        Thread.sleep(700);
        Psdump second = collector("-2");
        assertEquals(0, child.waitForExit(), child.output());
        second.close();
        List<String> lines = second.lines();
        // The new connection begins with the hello packet, which the event
        // agent filled: the Java side's server name, the node name and the
        // probe manager's product version (6.1.0 by default) ...
        assertTrue(lines.get(0).contains("\"packetKind\":\"hello\"") && lines.get(0).contains(
                "\"record\":\"time\""), lines.get(0));
        assertTrue(lines.get(1).contains("\"record\":\"identity\",\"code\":200,\"versionMajor\":6,"
                + "\"versionMinor\":1,"), lines.get(1));
        assertTrue(lines.get(1).contains("\"nodeName\":\"n\",\"appServerName\":\"s\""), lines.get(1));
        // ... and the first data packet begins with the records resent after
        // it: the class records (none announced here) and the sampling rates.
        assertTrue(lines.get(2).startsWith("{\"conn\":1,") && lines.get(2).contains(
                "\"record\":\"count\""), lines.get(2));
        assertEquals("samplingRates", Psdump.field(lines.get(3), "record"), lines.get(3));
        // Later requests arrive on the new connection.
        Map<Integer, Long> after = lastSequence(second.records("httpStart"));
        for (int worker = 0; worker < 2; worker++) {
            assertTrue(after.getOrDefault(worker, -1L) > beforeKill.getOrDefault(worker, -1L),
                    "worker " + worker + ": " + after + " after " + beforeKill);
        }
        // The probe noticed the lost connection and made the master resend.
        String log = log();
        assertTrue(log.contains("Write failed, looks like socket is down, retrying to connect to PS")
                || log.contains("Successfully connected to PS socket"), log);
        assertTrue(count(log, "Sent Init records successfully") >= 2, log);
    }

    @Test
    void memoryGateClosesUnderAFloodAndReopens() throws Exception {
        // Queues of 20000 records hold more than the 2 MB of room above the
        // gate's minimum, and one cycle drains them.
        home.writeProperties("internal.probe.publishing.frequency=500\nnetworkagent.publish.frequency=100\n"
                + "internal.memory.limit=6\ninternal.memory.accept.threshold=1\n"
                + "internal.probe.event.queue.size.limit=20000\n");
        Psdump collector = collector("-flood");
        ChildJvm.Started child = child(port, "3", "pace:1000,flood:2500,pace:3000");
        assertEquals(0, child.waitForExit(), child.output());
        collector.close();

        String log = log();
        int closings = count(log, "Memory Limit reached, datacollector stopped accepting data");
        assertTrue(closings >= 1, "the gate never closed:\n" + child.output());
        assertTrue(count(log, "Memory Utlization below Limit, datacollector is accepting data") >= 1,
                "the gate never reopened");

        // The worker threads' ids, from their requests.
        List<String> starts = collector.records("httpStart");
        Set<Long> workerThreads = new HashSet<>();
        for (String line : starts) workerThreads.add(Psdump.number(line, "threadId"));
        assertEquals(3, workerThreads.size(), workerThreads.toString());
        // One data-gate marker per thread and closing: a drop notice that
        // carries the thread's id and no counts.
        Map<Long, Integer> markers = new HashMap<>();
        for (String line : collector.records("dropNotice")) {
            if (Psdump.number(line, "threadId") != 0 && line.matches(".*\"otherBeginDropped\":0,"
                    + "(\"\\w+Dropped\":0,?){5}}")) {
                markers.merge(Psdump.number(line, "threadId"), 1, Integer::sum);
            }
        }
        for (long tid : workerThreads) {
            int n = markers.getOrDefault(tid, 0);
            assertTrue(n >= 1 && n <= closings, "thread " + tid + ": " + n + " markers for "
                    + closings + " closings");
        }
        // After the gate reopened the last request of every worker arrived.
        String startLines = String.join("\n", starts);
        for (int worker = 0; worker < 3; worker++) {
            long last = figure(child, "last " + worker);
            assertTrue(last >= 0 && startLines.contains("\"url\":\"/r/" + worker + "/" + last + "\""),
                    "the last request of worker " + worker + " (" + last + ") did not arrive");
        }
    }

    @Test
    void collectorThatStopsReading() throws Exception {
        // Queues long enough that only the gate bounds what the flood keeps.
        home.writeProperties("internal.probe.publishing.frequency=100\nnetworkagent.publish.frequency=100\n"
                + "networkagent.buffer.limit=3\ninternal.probe.event.packet.size=256\n"
                + "internal.memory.limit=6\ninternal.memory.accept.threshold=1\n"
                + "internal.probe.event.queue.size.limit=5000000\n");
        // Accepts connections and never reads from them.
        ServerSocket server = new ServerSocket(0);
        open.add(server);
        Thread acceptor = new Thread(() -> {
            try {
                while (true) open.add(server.accept());
            } catch (IOException e) {
                // closed
            }
        });
        acceptor.setDaemon(true);
        acceptor.start();
        port = server.getLocalPort();
        ChildJvm.Started child = child(port, "2", "flood:5000");
        assertEquals(0, child.waitForExit(), child.output());
        String log = log();
        assertTrue(log.contains("Queue full, buffer limit reached"), "no packet was refused");
        assertTrue(log.contains("Memory Limit reached"), "the gate never closed");
        assertTrue(log.contains("Failed to send data, NAMgr send was unsuccessful"));
        // The JVM kept serving requests while the collector did not read.
        long served = figure(child, "served");
        assertTrue(served > 10000, "served " + served);
        // The gate bounds the agent's memory: the estimate never passes the
        // limit (6 MB) by more than one cycle's records, however long the
        // flood goes on; unbounded, the queues would have held every record
        // the flood made (four of some 64 bytes a request).
        long maxMemory = figure(child, "maxMemory");
        assertTrue(maxMemory > 0 && maxMemory < 64000000, "max memory " + maxMemory);
        assertTrue(maxMemory < served * 4 * 64 / 4, "max memory " + maxMemory + " for " + served
                + " requests");
    }
}
