package com.halden.bench;

import com.halden.probe.Launcher;
import com.halden.probe.ProbeController;
import com.halden.probe.ThreadManager;
import java.lang.management.ManagementFactory;
import java.lang.management.ThreadMXBean;
import java.util.Arrays;
import java.util.Locale;
import java.util.concurrent.CyclicBarrier;

/**
 * A workload of the launcher, run while the probe is enabled: the time per
 * startNativeHttpRequest + finishNativeHttpRequest pair with three short
 * strings, on 1 and 2 threads, for three implementations in the same JVM:
 * the probe's natives, natives of the same signatures that do nothing
 * ("empty": the JNI calls), and natives that do only the unavoidable work
 * ("floor": both clocks per record and one copy of each text, no allocation,
 * no queue). Each figure is the median of the rounds. Per pair it gives the
 * wall time and the calling thread's CPU time, as each thread sees them; on 2
 * threads the CPU time leaves out the time a thread waited for a core.
 *
 * <p>Around every measurement of the probe's natives it also reads the CPU
 * time of the agent's event and network agent threads and of the collector
 * process (from /proc), and gives it per record delivered; the agent threads'
 * idle cycling, measured while the same round times the other natives (the
 * agents then have nothing to do), is taken off.
 * Per round ("[bench] LABEL round R: ...") and as the median and the range of
 * the rounds ("[bench] LABEL summary ..."), it prints: the request thread's CPU
 * time per pair above the floor on 1 thread, the same on 2 threads over 1
 * thread, the agent threads' and the collector's CPU time per record.
 *
 * <p>At the end it prints how many pairs went through the probe's natives
 * ("[bench] probe pairs N"), so that the caller can check that every record
 * reached the collector.
 *
 * <p>System properties: dc.bench.empty (path of libdcbench_empty.so, required),
 * dc.bench.pairs (pairs per thread and round, default 2000000), dc.bench.rounds
 * (default 5), dc.bench.label (the figures' label, default "delivered"),
 * dc.bench.only (probe, empty or floor: only that loop on 1 thread, for
 * profiling one against another),
 * dc.bench.psdump.pid (the collector's process id; without it the collector's
 * figure is left out).
 */
public class RequestPairBench implements Launcher.Workload {
    static final String NAME = "/cart";
    static final String APP = "shop";
    static final String URL = "/shop/cart";
    static final int PROBE = 0;
    static final int EMPTY = 1;
    static final int FLOOR = 2;
    static final String[] KINDS = {"probe", "empty", "floor"};

    // The threads of the agent that drain and send (their names' starts).
    static final String[] AGENT_THREADS = {"EventAgent", "NetworkAgent"};

    private long probePairs;
    private final String psdumpPid = System.getProperty("dc.bench.psdump.pid");
    // What the latest measurement cost outside the request threads: the
    // records made, the agent threads' CPU, the collector's CPU, and the wall
    // time from its start until its records had left the agent.
    private long lastRecords;
    private long lastAgentNanos;
    private long lastPsdumpNanos;
    private long lastStretch;

    @Override
    public void run() throws Exception {
        System.load(System.getProperty("dc.bench.empty"));
        long pairs = Long.getLong("dc.bench.pairs", 2000000L);
        int rounds = Integer.getInteger("dc.bench.rounds", 5);
        String label = System.getProperty("dc.bench.label", "delivered");
        // For profiling: only one loop, on 1 thread.
        String only = System.getProperty("dc.bench.only", "");
        if (!only.isEmpty()) {
            int kind = java.util.Arrays.asList("probe", "empty", "floor").indexOf(only);
            if (kind < 0) throw new IllegalArgumentException("dc.bench.only=" + only);
            double[] figures = measure(1, pairs * rounds, kind);
            say(String.format(Locale.ROOT, "only %s: %.0f ns/pair wall (%.0f cpu)", only,
                    figures[0], figures[1]));
            say("probe pairs " + probePairs);
            return;
        }
        say("probe enabled: " + ProbeController.isNativeProbeEnabled());
        // Warm-up: every loop compiled before anything is timed.
        for (int kind = 0; kind < 3; kind++) measure(1, pairs / 4, kind);
        // Rounds alternate between the kinds and between 1 and 2 threads, so
        // that none is favoured by when it ran (heap state, JIT, the
        // machine's other work).
        double[][][][] figures = new double[3][3][rounds][];
        double[] aboveFloor = new double[rounds];
        double[] ratio = new double[rounds];
        double[] agentPerRecord = new double[rounds];
        double[] psdumpPerRecord = new double[rounds];
        double[] idleRate = new double[rounds];
        for (int r = 0; r < rounds; r++) {
            long records = 0;
            long agentNanos = 0;
            long psdumpNanos = 0;
            long busyWall = 0;
            long quietNanos = 0;
            long quietWall = 0;
            for (int threads = 1; threads <= 2; threads++) {
                for (int kind = 0; kind < 3; kind++) {
                    figures[threads][kind][r] = measure(threads, pairs, kind);
                    if (kind == PROBE) {
                        records += lastRecords;
                        agentNanos += lastAgentNanos;
                        psdumpNanos += lastPsdumpNanos;
                        busyWall += lastStretch;
                    } else {
                        quietNanos += lastAgentNanos;
                        quietWall += lastStretch;
                    }
                }
            }
            double one = figures[1][PROBE][r][1] - figures[1][FLOOR][r][1];
            double two = figures[2][PROBE][r][1] - figures[2][FLOOR][r][1];
            aboveFloor[r] = one;
            ratio[r] = figures[2][PROBE][r][1] / figures[1][PROBE][r][1];
            idleRate[r] = (double) quietNanos / quietWall;
            agentPerRecord[r] = (agentNanos - idleRate[r] * busyWall) / records;
            psdumpPerRecord[r] = psdumpPid == null ? Double.NaN : psdumpNanos / records;
            say(String.format(Locale.ROOT,
                    "%s round %d: request thread above floor (cpu) 1 thread %.0f ns/pair,"
                            + " 2 threads %.0f ns/pair; probe cpu 2 threads/1 thread %.2f;"
                            + " agent threads %.1f ns/record; psdump %.1f ns/record; %d records",
                    label, r + 1, one, two, ratio[r], agentPerRecord[r], psdumpPerRecord[r],
                    records));
        }
        say(String.format(Locale.ROOT,
                "%s summary, median [min-max] of %d rounds: request thread above floor (cpu,"
                        + " 1 thread) %s ns/pair; probe cpu per pair 2 threads/1 thread %s;"
                        + " agent threads %s ns/record (idle %s ms/s taken off); psdump %s"
                        + " ns/record",
                label, rounds, spread(aboveFloor, "%.0f"), spread(ratio, "%.2f"),
                spread(agentPerRecord, "%.1f"), spread(scaled(idleRate, 1000), "%.2f"),
                spread(psdumpPerRecord, "%.1f")));
        for (int threads = 1; threads <= 2; threads++) {
            double[][] m = new double[3][];
            for (int kind = 0; kind < 3; kind++) m[kind] = median(figures[threads][kind]);
            say(String.format(Locale.ROOT,
                    "%s threads=%d pairs/thread=%d rounds=%d ns/pair wall (cpu):"
                            + " probe %.0f (%.0f) empty %.0f (%.0f) floor %.0f (%.0f)"
                            + " probe-floor %.0f (%.0f)",
                    label, threads, pairs, rounds, m[PROBE][0], m[PROBE][1], m[EMPTY][0],
                    m[EMPTY][1], m[FLOOR][0], m[FLOOR][1], m[PROBE][0] - m[FLOOR][0],
                    m[PROBE][1] - m[FLOOR][1]));
        }
        say("probe pairs " + probePairs);
    }

    /** "median [min-max]" of the values. */
    static String spread(double[] values, String format) {
        double[] v = values.clone();
        Arrays.sort(v);
        int n = v.length;
        double median = n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
        return String.format(Locale.ROOT, format + " [" + format + "-" + format + "]", median,
                v[0], v[n - 1]);
    }

    static long agentNanos() {
        long total = 0;
        for (String name : AGENT_THREADS) total += TaskCpu.nanos("self", name);
        return total;
    }

    static double[] scaled(double[] values, double factor) {
        double[] v = new double[values.length];
        for (int i = 0; i < v.length; i++) v[i] = values[i] * factor;
        return v;
    }

    /** The median of the rounds, wall and CPU figures separately. */
    static double[] median(double[][] rounds) {
        double[] result = new double[2];
        for (int i = 0; i < 2; i++) {
            double[] values = new double[rounds.length];
            for (int r = 0; r < rounds.length; r++) values[r] = rounds[r][i];
            Arrays.sort(values);
            int n = values.length;
            result[i] = n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
        }
        return result;
    }

    static void say(String text) {
        System.out.println("[bench] " + text);
        System.out.flush();
    }

    /** Wall and CPU nanoseconds per pair, each the mean of what the threads measured. */
    double[] measure(int threads, long pairs, int kind) throws Exception {
        ThreadMXBean mx = ManagementFactory.getThreadMXBean();
        CyclicBarrier start = new CyclicBarrier(threads);
        long[] wall = new long[threads];
        long[] cpu = new long[threads];
        Thread[] workers = new Thread[threads];
        for (int t = 0; t < threads; t++) {
            final int n = t;
            workers[t] = new Thread(() -> {
                try {
                    start.await();
                } catch (Exception e) {
                    throw new IllegalStateException(e);
                }
                long cpuBegin = mx.getCurrentThreadCpuTime();
                long begin = System.nanoTime();
                switch (kind) {
                    case PROBE: probeLoop(pairs); break;
                    case EMPTY: emptyLoop(pairs); break;
                    default: floorLoop(pairs); break;
                }
                wall[n] = System.nanoTime() - begin;
                cpu[n] = mx.getCurrentThreadCpuTime() - cpuBegin;
            }, "bench-" + t);
        }
        long agentBegin = agentNanos();
        long psdumpBegin = kind == PROBE && psdumpPid != null ? TaskCpu.nanos(psdumpPid, null) : 0;
        long stretchBegin = System.nanoTime();
        for (Thread w : workers) w.start();
        for (Thread w : workers) w.join();
        if (kind == PROBE) {
            probePairs += threads * pairs;
            // The stretch ends once every record has left the agent.
            awaitDrained();
            lastRecords = 2 * threads * pairs;
            lastPsdumpNanos = psdumpPid == null ? 0 : TaskCpu.nanos(psdumpPid, null) - psdumpBegin;
        }
        lastStretch = System.nanoTime() - stretchBegin;
        lastAgentNanos = agentNanos() - agentBegin;
        long wallSum = 0;
        long cpuSum = 0;
        for (int t = 0; t < threads; t++) {
            wallSum += wall[t];
            cpuSum += cpu[t];
        }
        return new double[] {(double) wallSum / threads / pairs, (double) cpuSum / threads / pairs};
    }

    /**
     * Waits until the probe's queues are drained (its memory figure back near
     * the fixed part of the estimate), so that the agents' work on one
     * measurement's records does not fall into the next measurement, and no
     * record is still queued when the probe stops.
     */
    static void awaitDrained() throws InterruptedException {
        long deadline = System.nanoTime() + 300_000_000_000L;
        java.util.regex.Pattern number = java.util.regex.Pattern.compile("(\\d+)");
        while (System.nanoTime() < deadline) {
            String status = ThreadManager.getNativeProbeStatus();
            java.util.regex.Matcher m = number.matcher(status == null ? "" : status);
            // The fixed part: 4000000 bytes and 140 per thread record.
            if (m.find() && Long.parseLong(m.group(1)) < 4_100_000L) break;
            Thread.sleep(20);
        }
        // The figure lags the queues by a publishing cycle or two.
        Thread.sleep(300);
    }

    static void probeLoop(long pairs) {
        for (long i = 0; i < pairs; i++) {
            ThreadManager.startNativeHttpRequest(0, NAME, APP, URL, null);
            ThreadManager.finishNativeHttpRequest(NAME, 0, 0);
        }
    }

    static void emptyLoop(long pairs) {
        for (long i = 0; i < pairs; i++) {
            EmptyNatives.startNativeHttpRequest(0, NAME, APP, URL, null);
            EmptyNatives.finishNativeHttpRequest(NAME, 0, 0);
        }
    }

    static void floorLoop(long pairs) {
        for (long i = 0; i < pairs; i++) {
            FloorNatives.startNativeHttpRequest(0, NAME, APP, URL, null);
            FloorNatives.finishNativeHttpRequest(NAME, 0, 0);
        }
    }
}
