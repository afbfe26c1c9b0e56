package com.halden.jvmtest;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.halden.jvmtest.support.ChildJvm;
import com.halden.jvmtest.support.Psdump;
import com.halden.jvmtest.support.TempHome;
import com.halden.jvmtest.workload.PublishWorkload;
import java.io.IOException;
import java.net.ServerSocket;
import java.net.Socket;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.HashMap;
import java.util.HashSet;
import java.util.List;
import java.util.Map;
import java.util.Set;
import java.util.concurrent.TimeUnit;
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
    final List<AutoCloseable> open = new ArrayList<>();

    @BeforeEach
    void makeHome() {
        home = TempHome.create();
    }

    @AfterEach
    void cleanUp() throws Exception {
        for (AutoCloseable c : open) c.close();
        home.close();
    }

    /** A child JVM running the publishing workload, not waited for. */
    final class Child implements AutoCloseable {
        final Process process;
        final Path out;

        Child(int port, String... properties) throws IOException {
            ChildJvm jvm = ChildJvm.in(home).launcher(PublishWorkload.class)
                    .property("hm.ps.host", "127.0.0.1")
                    .property("hm.ps.port", Integer.toString(port));
            for (int i = 0; i + 1 < properties.length; i += 2) {
                jvm.property(properties[i], properties[i + 1]);
            }
            out = home.path().resolveSibling(home.path().getFileName() + ".child.out");
            process = new ProcessBuilder(jvm.command()).directory(home.path().toFile())
                    .redirectErrorStream(true).redirectOutput(out.toFile()).start();
            open.add(this);
        }

        String output() {
            return Files.exists(out) ? TempHome.read(out) : "";
        }

        void waitForLine(String text, long millis) throws InterruptedException {
            long deadline = System.currentTimeMillis() + millis;
            while (!output().contains(text)) {
                if (!process.isAlive() || System.currentTimeMillis() > deadline) {
                    throw new AssertionError("child never printed \"" + text + "\":\n" + output());
                }
                Thread.sleep(20);
            }
        }

        int waitForExit() throws InterruptedException {
            if (!process.waitFor(120, TimeUnit.SECONDS)) {
                process.destroyForcibly().waitFor();
                throw new AssertionError("child did not end:\n" + output());
            }
            return process.exitValue();
        }

        /** The number after "[pw] name ". */
        long figure(String name) {
            Matcher m = Pattern.compile("\\[pw\\] " + name + " (\\d+)").matcher(output());
            long last = -1;
            while (m.find()) last = Long.parseLong(m.group(1));
            return last;
        }

        @Override
        public void close() throws IOException {
            if (process.isAlive()) {
                try {
                    process.destroyForcibly().waitFor();
                } catch (InterruptedException e) {
                    Thread.currentThread().interrupt();
                }
            }
            Files.deleteIfExists(out);
        }
    }

    String log() {
        return TempHome.read(home.onlyLogFile());
    }

    static int count(String text, String what) {
        int n = 0;
        for (int at = text.indexOf(what); at >= 0; at = text.indexOf(what, at + 1)) n++;
        return n;
    }

    /** Highest request sequence number per worker among the httpStart lines. */
    static Map<Integer, Long> lastSequence(List<String> httpStarts) {
        Map<Integer, Long> last = new HashMap<>();
        for (String line : httpStarts) {
            Matcher m = URL.matcher(line);
            if (m.find()) last.merge(Integer.parseInt(m.group(1)), Long.parseLong(m.group(2)),
                    Math::max);
        }
        return last;
    }

    @Test
    void collectorLateThenKilledAndRestarted() throws Exception {
        home.writeProperties("internal.probe.publishing.frequency=200\n"
                + "networkagent.publish.frequency=100\n");
        int port = Psdump.freePort();
        Child child = new Child(port, "pw.threads", "2", "pw.plan", "pace:2500,pace:2500,pace:2500");

        // Nothing listens yet: the requests' records wait in their queues.
        child.waitForLine("[pw] phase 0", 30000);
        Thread.sleep(1500);
        Psdump first = Psdump.listen(port, home.path().getParent(), home.path().getFileName() + "-1");
        open.add(first);
        assertTrue(first.waitFor("\"url\":\"/r/0/0\"", 5000), "the first request arrived late");
        assertTrue(first.waitFor("\"url\":\"/r/1/0\"", 5000));
        assertEquals("hello", Psdump.field(first.lines().get(0), "packetKind"));

        // The collector dies; another takes its place on the same port.
        child.waitForLine("[pw] phase 1", 30000);
        first.kill();
        Map<Integer, Long> beforeKill = lastSequence(first.records("httpStart"));
        Thread.sleep(700);
        Psdump second = Psdump.listen(port, home.path().getParent(), home.path().getFileName() + "-2");
        open.add(second);

        assertEquals(0, child.waitForExit(), child.output());
        second.close();
        List<String> lines = second.lines();
        assertFalse(lines.isEmpty());
        // The new connection begins with the hello packet ...
        assertEquals("hello", Psdump.field(lines.get(0), "packetKind"));
        assertEquals("time", Psdump.field(lines.get(0), "record"));
        assertEquals("identity", Psdump.field(lines.get(1), "record"));
        // The event agent filled it: the Java side's server name, the node
        // name and the probe manager's product version (6.1.0 by default).
        assertEquals(ChildJvm.SERVER, Psdump.field(lines.get(1), "appServerName"), lines.get(1));
        assertEquals(ChildJvm.NODE, Psdump.field(lines.get(1), "nodeName"));
        assertEquals(1, Psdump.number(lines.get(1), "versionMinor"), lines.get(1));
        // ... and the first data packet begins with the records resent after
        // it: the class records (none announced here) and the sampling rates.
        assertEquals("count", Psdump.field(lines.get(2), "record"));
        assertEquals("samplingRates", Psdump.field(lines.get(3), "record"), lines.get(3));
        assertEquals(1, Psdump.number(lines.get(2), "conn"));
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
        home.writeProperties("internal.probe.publishing.frequency=500\n"
                + "networkagent.publish.frequency=100\n"
                + "internal.memory.limit=6\n"
                + "internal.memory.accept.threshold=1\n"
                + "internal.probe.event.queue.size.limit=20000\n");
        int port = Psdump.freePort();
        Psdump collector = Psdump.listen(port, home.path().getParent(),
                home.path().getFileName() + "-flood");
        open.add(collector);
        Child child = new Child(port, "pw.threads", "3", "pw.plan",
                "pace:1000,flood:2500,pace:3000");
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
        for (String line : starts) {
            Matcher m = URL.matcher(line);
            if (m.find()) workerThreads.add(Psdump.number(line, "threadId"));
        }
        assertEquals(3, workerThreads.size(), workerThreads.toString());
        // One data-gate marker per thread and closing: a drop notice that
        // carries the thread's id and no counts.
        Map<Long, Integer> markers = new HashMap<>();
        for (String line : collector.records("dropNotice")) {
            long tid = Psdump.number(line, "threadId");
            boolean noCounts = line.contains("\"otherBeginDropped\":0,\"otherEndDropped\":0,"
                    + "\"methodEntryDropped\":0,\"methodExitDropped\":0,\"sqlBeginDropped\":0,"
                    + "\"sqlEndDropped\":0");
            if (tid != 0 && noCounts) markers.merge(tid, 1, Integer::sum);
        }
        for (long tid : workerThreads) {
            int n = markers.getOrDefault(tid, 0);
            assertTrue(n >= 1 && n <= closings, "thread " + tid + ": " + n + " markers for "
                    + closings + " closings");
        }
        // After the gate reopened the last request of every worker arrived.
        String startLines = String.join("\n", starts);
        for (int worker = 0; worker < 3; worker++) {
            long last = child.figure("last " + worker);
            assertTrue(last >= 0);
            assertTrue(startLines.contains("\"url\":\"/r/" + worker + "/" + last + "\""),
                    "the last request of worker " + worker + " (" + last + ") did not arrive");
        }
    }

    @Test
    void collectorThatStopsReading() throws Exception {
        // Queues long enough that only the gate bounds what the flood keeps.
        home.writeProperties("internal.probe.publishing.frequency=100\n"
                + "networkagent.publish.frequency=100\n"
                + "networkagent.buffer.limit=3\n"
                + "internal.probe.event.packet.size=256\n"
                + "internal.memory.limit=6\n"
                + "internal.memory.accept.threshold=1\n"
                + "internal.probe.event.queue.size.limit=5000000\n");
        // Accepts connections and never reads from them.
        ServerSocket server = new ServerSocket(0);
        open.add(server);
        List<Socket> held = new ArrayList<>();
        Thread acceptor = new Thread(() -> {
            try {
                while (true) {
                    Socket s = server.accept();
                    synchronized (held) {
                        held.add(s);
                    }
                }
            } catch (IOException e) {
                // closed
            }
        });
        acceptor.setDaemon(true);
        acceptor.start();

        Child child = new Child(server.getLocalPort(), "pw.threads", "2", "pw.plan",
                "flood:5000");
        int exit = child.waitForExit();
        synchronized (held) {
            for (Socket s : held) s.close();
        }
        assertEquals(0, exit, child.output());
        String log = log();
        assertTrue(log.contains("Queue full, buffer limit reached"), "no packet was refused");
        assertTrue(log.contains("Failed to send data, NAMgr send was unsuccessful"));
        // The JVM kept serving requests while the collector did not read.
        long served = child.figure("served");
        assertTrue(served > 10000, "served " + served);
        // The gate bounds the agent's memory: the estimate never passes the
        // limit (6 MB) by more than one cycle's records, however long the
        // flood goes on; unbounded, the queues would have held every record
        // the flood made (four of some 64 bytes a request).
        assertTrue(log.contains("Memory Limit reached"), "the gate never closed");
        long maxMemory = child.figure("maxMemory");
        assertTrue(maxMemory > 0 && maxMemory < 64000000, "max memory " + maxMemory);
        assertTrue(maxMemory < served * 4 * 64 / 4, "max memory " + maxMemory + " for " + served
                + " requests");
    }
}
