package com.halden.bench;

import com.halden.command.CommandAgent;
import com.halden.command.ThreadDumpInfo;
import com.halden.command.monitoring.PerfSummaryImpl;
import com.halden.probe.Launcher;
import com.halden.probe.ProbeSystem;
import java.nio.file.Files;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.List;
import java.util.Locale;
import java.util.concurrent.CountDownLatch;
import java.util.function.LongSupplier;

/**
 * A workload of the launcher: the time generateThreadDump takes beyond its
 * fixed 2-second wait, and the size of the javacore, with 200 extra threads
 * parked a few frames deep; then the cost of each platform-figure native that
 * does not sample over time, in microseconds per call.
 *
 * <p>System properties: dc.bench.threads (200), dc.bench.dumps (3),
 * dc.bench.calls (calls per native, 20000).
 */
public class DiagnosticsBench implements Launcher.Workload {
    static final long FIXED_WAIT_MILLIS = 2000;

    @Override
    public void run() throws Exception {
        int threads = Integer.getInteger("dc.bench.threads", 200);
        int dumps = Integer.getInteger("dc.bench.dumps", 3);
        int calls = Integer.getInteger("dc.bench.calls", 20000);
        CountDownLatch parked = new CountDownLatch(threads);
        CountDownLatch release = new CountDownLatch(1);
        List<Thread> started = new ArrayList<>();
        for (int i = 0; i < threads; i++) {
            Thread t = new Thread(() -> nest(8, parked, release), "bench-parked-" + i);
            t.setDaemon(true);
            t.start();
            started.add(t);
        }
        parked.await();
        double best = Double.MAX_VALUE;
        long size = 0;
        for (int i = 0; i < dumps; i++) {
            ThreadDumpInfo info = new ThreadDumpInfo();
            long start = System.nanoTime();
            int result = CommandAgent.generateThreadDump(info);
            double millis = (System.nanoTime() - start) / 1e6 - FIXED_WAIT_MILLIS;
            if (result != 0) throw new IllegalStateException("generateThreadDump answered " + result);
            best = Math.min(best, millis);
            size = Files.size(Paths.get(info.getFileName()));
            Files.delete(Paths.get(info.getFileName()));
        }
        say(String.format(Locale.ROOT,
                "generateThreadDump live threads=%d beyond the 2 s wait: best of %d = %.1f ms,"
                        + " javacore %d bytes",
                Thread.activeCount(), dumps, best, size));
        release.countDown();

        PerfSummaryImpl perf = new PerfSummaryImpl();
        time("getDiskSpace", calls, perf::getDiskSpace);
        time("getVM", calls, perf::getVM);
        time("getDiskIO", calls, perf::getDiskIO);
        time("getTotalPhysicalMemory", calls, perf::getTotalPhysicalMemory);
        time("getPagingRate(999)", calls, () -> perf.getPagingRate(999));
        time("nativeGetCurrentThreadCPUTime", calls, ProbeSystem::nativeGetCurrentThreadCPUTime);
        time("nativeGetTimeMicroSeconds", calls, ProbeSystem::nativeGetTimeMicroSeconds);
        time("nativeUpdateAppServerCPUTime", calls, ProbeSystem::nativeUpdateAppServerCPUTime);
        time("nativeUpdatePlatformCPUTime", calls, ProbeSystem::nativeUpdatePlatformCPUTime);
    }

    static void nest(int depth, CountDownLatch parked, CountDownLatch release) {
        if (depth > 0) {
            nest(depth - 1, parked, release);
            return;
        }
        parked.countDown();
        try {
            release.await();
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
        }
    }

    static long sink;

    static void time(String name, int calls, LongSupplier call) {
        for (int i = 0; i < calls / 10; i++) sink += call.getAsLong();
        double best = Double.MAX_VALUE;
        for (int round = 0; round < 3; round++) {
            long start = System.nanoTime();
            for (int i = 0; i < calls; i++) sink += call.getAsLong();
            best = Math.min(best, (System.nanoTime() - start) / 1e3 / calls);
        }
        say(String.format(Locale.ROOT, "%s: %.2f us/call", name, best));
    }

    static void say(String text) {
        System.out.println("[bench] " + text);
        System.out.flush();
    }
}
