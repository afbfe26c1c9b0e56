package com.halden.jvmtest;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.halden.jvmtest.support.ChildJvm;
import com.halden.jvmtest.support.Json;
import com.halden.jvmtest.support.Psdump;
import com.halden.jvmtest.support.RunResult;
import com.halden.jvmtest.support.TempHome;
import com.halden.jvmtest.workload.OtlpWorkload;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Comparator;
import java.util.List;
import java.util.Map;
import java.util.concurrent.CompletableFuture;
import java.util.concurrent.TimeUnit;
import java.util.regex.Matcher;
import java.util.regex.Pattern;
import java.util.stream.Collectors;
import org.junit.jupiter.api.AfterAll;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;

/**
 * psdump's OTLP export, checked by an OTLP receiver that is not ours: a
 * Node.js server that decodes every post with the OpenTelemetry JavaScript
 * project's generated definitions (build/otlp-receiver, installed by
 * scripts/test.sh with npm ci) and writes the spans as JSON lines.
 *
 * <p>Two JVMs run at once, each with its own psdump exporting to one
 * receiver: the invoker (demo requests, then a call to the other JVM with a
 * correlation token) and the receiver of that call. Meanwhile two more
 * psdumps decode a captured stream while their back end is down for five
 * seconds: one with room for every trace, one with a queue too small.
 */
class OtlpExportTest {
    static final int DEMO_REQUESTS = 20;
    static final Pattern SUMMARY = Pattern.compile("otlp: (\\d+) traces \\((\\d+) spans\\) sent in "
            + "(\\d+) posts, (\\d+) retries, (\\d+) traces \\((\\d+) spans\\) dropped");

    static Path work;
    static final List<Process> processes = new ArrayList<>();
    static final List<TempHome> homes = new ArrayList<>();
    static RunResult invoker;
    static RunResult receiver;
    static final List<String> invokerLines = new ArrayList<>();
    static String invokerErr;
    static final String[] receiverErr = new String[1];
    static List<Map<String, Object>> spans;
    static long captureTraces;
    static String keptErr;
    static String cutErr;
    static List<Map<String, Object>> keptSpans;
    static List<Map<String, Object>> cutSpans;

    static Path receiverScript() {
        Path script = ChildJvm.buildDir().resolve("otlp-receiver/receiver.js");
        if (!Files.isDirectory(script.resolveSibling("node_modules"))) {
            throw new AssertionError("the test receiver's packages are missing: run npm ci in "
                    + script.getParent() + " (scripts/test.sh does)");
        }
        return script;
    }

    /** Starts an OTLP receiver on the port (0: any) and returns the port it listens on. */
    static int startReceiver(String name, int port, String... more) throws Exception {
        Path portFile = work.resolve(name + ".port");
        List<String> command = new ArrayList<>(List.of("node", receiverScript().toString(),
                "--port", Integer.toString(port), "--port-file", portFile.toString(),
                "--out", work.resolve(name + ".jsonl").toString()));
        command.addAll(List.of(more));
        Process p = new ProcessBuilder(command).redirectErrorStream(true)
                .redirectOutput(work.resolve(name + ".log").toFile()).start();
        processes.add(p);
        for (long end = System.currentTimeMillis() + 20000; System.currentTimeMillis() < end;
                Thread.sleep(20)) {
            if (Files.exists(portFile)) return Integer.parseInt(TempHome.read(portFile).trim());
            if (!p.isAlive()) break;
        }
        throw new AssertionError("receiver " + name + " did not start: "
                + TempHome.read(work.resolve(name + ".log")));
    }

    static List<Map<String, Object>> spansOf(String name) {
        Path file = work.resolve(name + ".jsonl");
        if (!Files.exists(file)) return List.of();
        return TempHome.read(file).lines().filter(l -> !l.isEmpty()).map(Json::object)
                .collect(Collectors.toList());
    }

    static Process psdumpInput(String name, String... options) throws Exception {
        List<String> command = new ArrayList<>(List.of(
                ChildJvm.buildDir().resolve("tools/psdump/psdump").toString(),
                "--input", work.resolve("capture").toString()));
        command.addAll(List.of(options));
        Process p = new ProcessBuilder(command).redirectOutput(work.resolve(name + ".out").toFile())
                .redirectError(work.resolve(name + ".err").toFile()).start();
        processes.add(p);
        return p;
    }

    static RunResult runJvm(String role, int collector, List<String> lines, String[] err,
            String... psdumpOptions) throws Exception {
        TempHome home = TempHome.create();
        synchronized (homes) {
            homes.add(home);
        }
        home.writeProperties("internal.probe.publishing.frequency=200\n"
                + "networkagent.publish.frequency=100\n"
                + "internal.probe.clock.microseconds=true\n");
        // The counter the invoker's first token is drawn from: 0x414243.
        home.write(home.etc().resolve(ChildJvm.NODE + "." + role + ".haldenGpsCounter.txt"),
                "4276803");
        List<String> options = new ArrayList<>(List.of("--requests", "--otlp",
                "http://127.0.0.1:" + collector + "/v1/traces", "--otlp-batch-ms", "200"));
        options.addAll(List.of(psdumpOptions));
        int port = Psdump.freePort();
        Psdump psdump = Psdump.listen(port, home.path(), "psdump", options.toArray(new String[0]));
        try {
            return ChildJvm.in(home).property("hm.appserver", role).property("ow.role", role)
                    .property("ow.requests", Integer.toString(DEMO_REQUESTS))
                    .property("hm.ps.host", "127.0.0.1").property("hm.ps.port", Integer.toString(port))
                    .launcher(OtlpWorkload.class).run();
        } finally {
            psdump.close();
            lines.addAll(psdump.lines());
            err[0] = TempHome.read(home.path().resolve("psdump.err"));
        }
    }

    @BeforeAll
    static void run() throws Exception {
        work = Files.createTempDirectory("otlp-test");
        // The capture: 1200 records of four threads' demo requests.
        Process gen = new ProcessBuilder(
                ChildJvm.buildDir().resolve("tools/psdump/psdump_gencapture").toString(),
                work.resolve("capture").toString(), "1200", "4").redirectErrorStream(true)
                .redirectOutput(work.resolve("gen.log").toFile()).start();
        assertTrue(gen.waitFor(60, TimeUnit.SECONDS) && gen.exitValue() == 0);

        int collector = startReceiver("main", 0, "--fail-first", "1");
        // The back ends of the capture's psdumps are down when they start.
        int keptPort = Psdump.freePort();
        int cutPort = Psdump.freePort();
        long downSince = System.currentTimeMillis();
        Process kept = psdumpInput("kept", "--requests", "--otlp",
                "http://127.0.0.1:" + keptPort + "/v1/traces", "--otlp-batch", "100",
                "--otlp-drain", "40");
        Process cut = psdumpInput("cut", "--otlp", "http://127.0.0.1:" + cutPort + "/v1/traces",
                "--otlp-batch", "100", "--otlp-queue", "20", "--otlp-drain", "40");

        CompletableFuture<RunResult> receiving = CompletableFuture.supplyAsync(() -> {
            try {
                return runJvm("receiver", collector, new ArrayList<>(), receiverErr, "--otlp-gzip");
            } catch (Exception e) {
                throw new RuntimeException(e);
            }
        });
        String[] err = new String[1];
        invoker = runJvm("invoker", collector, invokerLines, err);
        invokerErr = err[0];
        receiver = receiving.get(200, TimeUnit.SECONDS);

        Thread.sleep(Math.max(0, downSince + 5000 - System.currentTimeMillis()));
        startReceiver("kept", keptPort);
        startReceiver("cut", cutPort);
        assertTrue(kept.waitFor(60, TimeUnit.SECONDS) && cut.waitFor(60, TimeUnit.SECONDS));
        keptErr = TempHome.read(work.resolve("kept.err"));
        cutErr = TempHome.read(work.resolve("cut.err"));
        captureTraces = TempHome.read(work.resolve("kept.out")).lines()
                .filter(l -> l.startsWith("{\"request\"") || l.startsWith("{\"openRequest\"")).count();
        spans = spansOf("main");
        keptSpans = spansOf("kept");
        cutSpans = spansOf("cut");
    }

    @AfterAll
    static void cleanUp() throws Exception {
        for (Process p : processes) p.destroyForcibly().waitFor(10, TimeUnit.SECONDS);
        for (TempHome home : homes) home.close();
        if (work != null) {
            try (var files = Files.walk(work)) {
                files.sorted(Comparator.reverseOrder()).forEach(f -> f.toFile().delete());
            }
        }
    }

    static long[] summary(String err) {
        Matcher m = SUMMARY.matcher(err);
        assertTrue(m.find(), err);
        long[] out = new long[6];
        for (int i = 0; i < 6; i++) out[i] = Long.parseLong(m.group(i + 1));
        return out;
    }

    static List<Map<String, Object>> roots(List<Map<String, Object>> all, String service) {
        return all.stream().filter(s -> "".equals(s.get("parentSpanId"))
                && (service == null || service.equals(s.get("res.service.name"))))
                .collect(Collectors.toList());
    }

    static List<Map<String, Object>> children(Map<String, Object> parent) {
        // Within the parent's process: a call to another JVM has that JVM's
        // root span as its child as well.
        return spans.stream().filter(s -> parent.get("spanId").equals(s.get("parentSpanId"))
                && parent.get("traceId").equals(s.get("traceId"))
                && parent.get("res.service.name").equals(s.get("res.service.name")))
                .sorted(Comparator.comparingLong(s -> number(s, "attr.halden.offset")))
                .collect(Collectors.toList());
    }

    static long number(Map<String, Object> map, String key) {
        Object v = map.get(key);
        assertNotNull(v, key + " in " + map);
        return v instanceof String ? Long.parseLong((String) v) : ((Number) v).longValue();
    }

    /** Microseconds of a psdump time in milliseconds (three decimals). */
    static long micros(Map<String, Object> call, String key) {
        return Math.round(((Number) call.get(key)).doubleValue() * 1000);
    }

    /** The span tree under span matches the call tree under call, times within 1 µs. */
    @SuppressWarnings("unchecked")
    static void sameTree(Map<String, Object> call, Map<String, Object> span, long requestStartNs) {
        String where = call + "\n" + span;
        assertEquals(call.get("kind"), span.get("attr.halden.kind"), where);
        assertEquals(number(call, "offset"), number(span, "attr.halden.offset"), where);
        long start = number(span, "start");
        long end = number(span, "end");
        assertTrue(Math.abs((end - start) / 1000.0 - micros(call, "wallMs")) <= 1, where);
        if (call.containsKey("startMs")) {
            assertTrue(Math.abs((start - requestStartNs) / 1000.0 - micros(call, "startMs")) <= 1, where);
        }
        assertTrue(Math.abs(number(span, "attr.halden.cpu_ns") / 1000.0 - micros(call, "cpuMs")) <= 1,
                where);
        if ("sql".equals(call.get("kind"))) {
            assertEquals(call.get("name"), span.get("attr.db.query.text"), where);
            assertEquals(3L, number(span, "kind"), where);
        }
        List<Map<String, Object>> calls = (List<Map<String, Object>>) call.getOrDefault("calls", List.of());
        List<Map<String, Object>> inner = children(span);
        assertEquals(calls.size(), inner.size(), where);
        for (int i = 0; i < calls.size(); i++) sameTree(calls.get(i), inner.get(i), requestStartNs);
    }

    @Test
    @SuppressWarnings("unchecked")
    void everyRequestIsOneTraceWithTheTreeTimesAndAttributesOfTheTable() {
        assertEquals(0, invoker.exitCode(), invoker.describe());
        List<Map<String, Object>> requests = invokerLines.stream()
                .filter(l -> l.startsWith("{\"request\"")).map(l -> (Map<String, Object>)
                        Json.object(l).get("request")).collect(Collectors.toList());
        assertEquals(DEMO_REQUESTS + 1, requests.size(), String.join("\n", invokerLines));
        List<Map<String, Object>> roots = roots(spans, "invoker");
        assertEquals(requests.size(), roots.size());
        boolean finerThanMillis = false;
        int errors = 0;
        for (Map<String, Object> q : requests) {
            Map<String, Object> root = roots.stream()
                    .filter(s -> number(s, "attr.halden.offset") == number(q, "offset"))
                    .findFirst().orElseThrow(() -> new AssertionError("no root span for " + q));
            long start = number(root, "start");
            sameTree(q, root, start);
            assertEquals(2L, number(root, "kind"));
            assertEquals(number(q, "thread"), number(root, "attr.halden.thread_id"));
            assertEquals(number(q, "nestedCalls"), number(root, "attr.halden.nested_calls"));
            assertTrue(number(root, "attr.halden.mod") > 0, root.toString());
            assertTrue(number(root, "attr.halden.end_offset") > number(q, "offset"));
            assertEquals(((String) q.get("name")).split("\\?")[0], root.get("attr.url.path"));
            assertNull(root.get("attr.http.route"), "a path is not a route template");
            boolean error = Boolean.TRUE.equals(q.get("error"));
            assertEquals(error ? 2L : 0L, number(root, "status"), root.toString());
            if (error) errors++;
            assertEquals(ChildJvm.NODE, root.get("res.host.name"));
            assertNotNull(root.get("res.halden.command_agent_id"));
            assertTrue(number(root, "res.halden.connection") >= 1, root.toString());
            for (Map<String, Object> s : spans) {
                if (s.get("traceId").equals(root.get("traceId")) && number(s, "start") % 1000000 != 0) {
                    finerThanMillis = true;
                }
            }
        }
        assertTrue(finerThanMillis, "the microsecond clock gives times between milliseconds");
        assertEquals("GET", roots.stream().filter(s -> "/shop/cart".equals(s.get("attr.url.path")))
                .findFirst().orElseThrow().get("attr.http.request.method"));
        assertTrue(errors > 0, "the demo requests include errors");
        // The first post of either psdump was answered 503 with Retry-After
        // and sent again.
        assertEquals(1, summary(invokerErr)[3] + summary(receiverErr[0])[3],
                invokerErr + receiverErr[0]);
        assertEquals(0, summary(invokerErr)[4], invokerErr);
    }

    @Test
    void theTokenJoinsTheTwoJvmsIntoOneTrace() {
        assertEquals(0, receiver.exitCode(), receiver.describe());
        assertEquals("40414243", invoker.check("token"));
        Map<String, Object> invoke = spans.stream()
                .filter(s -> "invoke".equals(s.get("attr.halden.kind"))).findFirst()
                .orElseThrow(() -> new AssertionError("no invoke span"));
        assertEquals("40414243", invoke.get("attr.halden.token"));
        assertEquals(3L, number(invoke, "kind"));
        List<Map<String, Object>> received = roots(spans, null).stream()
                .filter(s -> "receiver".equals(s.get("res.service.name"))).collect(Collectors.toList());
        assertEquals(0, received.size(), "the receiving root has the invoke span as its parent");
        Map<String, Object> root = spans.stream()
                .filter(s -> "receiver".equals(s.get("res.service.name"))
                        && "receive".equals(s.get("attr.halden.kind"))).findFirst().orElseThrow();
        assertEquals(invoke.get("traceId"), root.get("traceId"));
        assertEquals(invoke.get("spanId"), root.get("parentSpanId"));
        assertEquals(2L, number(root, "kind"));
        assertEquals(Boolean.TRUE, root.get("gzip"), "the receiver's psdump posts gzip bodies");
        List<Map<String, Object>> sql = children(root);
        assertEquals(1, sql.size());
        // OTLP strings are plain UTF-8: the NUL's modified form is replaced.
        assertEquals("UPDATE stock SET n = n - 1 -- \uFFFD", sql.get(0).get("attr.db.query.text"));
        // The invoking request's root is in the same trace, the invoke under it.
        Map<String, Object> order = spans.stream()
                .filter(s -> s.get("spanId").equals(invoke.get("parentSpanId"))).findFirst().orElseThrow();
        assertEquals("POST /order", order.get("name"));
        assertEquals(invoke.get("traceId"), order.get("traceId"));
    }

    @Test
    void aBackEndDownForFiveSecondsLosesNothingWithinTheQueueBound() {
        assertTrue(captureTraces > 50, "traces in the capture: " + captureTraces);
        long[] kept = summary(keptErr);
        assertEquals(captureTraces, kept[0], keptErr);
        assertTrue(kept[3] > 0, "retries counted: " + keptErr);
        assertEquals(0, kept[4], keptErr);
        assertEquals(captureTraces, roots(keptSpans, null).size());
        assertEquals(kept[1], keptSpans.size());
    }

    @Test
    void aQueueTooSmallDropsTheOldestAndCountsThem() {
        long[] cut = summary(cutErr);
        assertTrue(cut[4] > 0, cutErr);
        assertEquals(captureTraces, cut[0] + cut[4], cutErr);
        assertTrue(cut[0] <= 20, cutErr);
        assertEquals(cut[0], roots(cutSpans, null).size(), cutErr);
        assertEquals(cut[1], cutSpans.size(), cutErr);
        // The newest traces are the ones kept.
        long newest = roots(keptSpans, null).stream().mapToLong(s -> number(s, "attr.halden.offset"))
                .max().orElseThrow();
        assertTrue(roots(cutSpans, null).stream()
                .anyMatch(s -> number(s, "attr.halden.offset") == newest), cutErr);
        assertFalse(cutSpans.isEmpty());
    }
}
