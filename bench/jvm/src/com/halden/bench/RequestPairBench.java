package com.halden.bench;

import com.halden.probe.Launcher;
import com.halden.probe.ProbeController;
import com.halden.probe.ThreadManager;
import java.lang.management.ManagementFactory;
import java.lang.management.ThreadMXBean;
import java.util.Locale;
import java.util.concurrent.CyclicBarrier;

/**
 * A workload of the launcher, run while the probe is enabled: the time per
 * startNativeHttpRequest + finishNativeHttpRequest pair with three short
 * strings, on 1 and 2 threads, next to the same loop calling natives of the
 * same signature that do nothing. Each figure is the best of a few rounds;
 * on 2 threads it is the time per pair as each thread sees it: wall time, and
 * the thread's CPU time, which leaves out the time the thread waited for a
 * core (the machine's other work, the agent's own threads).
 *
 * <p>System properties: dc.bench.empty (path of libdcbench_empty.so, required),
 * dc.bench.pairs (pairs per thread and round, default 2000000), dc.bench.rounds
 * (default 3).
 */
public class RequestPairBench implements Launcher.Workload {
    static final String NAME = "/cart";
    static final String APP = "shop";
    static final String URL = "/shop/cart";

    @Override
    public void run() throws Exception {
        System.load(System.getProperty("dc.bench.empty"));
        long pairs = Long.getLong("dc.bench.pairs", 2000000L);
        int rounds = Integer.getInteger("dc.bench.rounds", 3);
        say("probe enabled: " + ProbeController.isNativeProbeEnabled());
        // Warm-up: both loops compiled before anything is timed.
        measure(1, pairs / 4, true);
        measure(1, pairs / 4, false);
        // Rounds alternate between 1 and 2 threads, so that neither count is
        // favoured by when it ran (heap state, JIT, the machine's other work).
        double[][] probe = new double[3][];
        double[][] empty = new double[3][];
        for (int r = 0; r < rounds; r++) {
            for (int threads = 1; threads <= 2; threads++) {
                probe[threads] = best(probe[threads], measure(threads, pairs, true));
                empty[threads] = best(empty[threads], measure(threads, pairs, false));
            }
        }
        for (int threads = 1; threads <= 2; threads++) {
            say(String.format(Locale.ROOT,
                    "threads=%d pairs/thread=%d probe ns/pair=%.1f (cpu %.1f)"
                            + " empty ns/pair=%.1f (cpu %.1f) difference=%.1f",
                    threads, pairs, probe[threads][0], probe[threads][1], empty[threads][0],
                    empty[threads][1], probe[threads][0] - empty[threads][0]));
        }
    }

    static double[] best(double[] best, double[] round) {
        if (best == null) return round;
        return new double[] {Math.min(best[0], round[0]), Math.min(best[1], round[1])};
    }

    static void say(String text) {
        System.out.println("[bench] " + text);
        System.out.flush();
    }

    /** Wall and CPU nanoseconds per pair, each the mean of what the threads measured. */
    static double[] measure(int threads, long pairs, boolean probe) throws Exception {
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
                if (probe) {
                    probeLoop(pairs);
                } else {
                    emptyLoop(pairs);
                }
                wall[n] = System.nanoTime() - begin;
                cpu[n] = mx.getCurrentThreadCpuTime() - cpuBegin;
            }, "bench-" + t);
        }
        for (Thread w : workers) w.start();
        for (Thread w : workers) w.join();
        long wallSum = 0;
        long cpuSum = 0;
        for (int t = 0; t < threads; t++) {
            wallSum += wall[t];
            cpuSum += cpu[t];
        }
        return new double[] {(double) wallSum / threads / pairs, (double) cpuSum / threads / pairs};
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
}
