package com.halden.jvmtest.workload;

import static com.halden.jvmtest.support.Checks.report;

import com.halden.command.CommandAgent;
import com.halden.command.ThreadDumpInfo;
import com.halden.command.monitoring.PerfSummaryImpl;
import com.halden.probe.Launcher;
import com.halden.probe.ProbeController;
import com.halden.probe.ProbeSystem;
import com.halden.probe.ThreadManager;
import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.DirectoryStream;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.time.LocalDateTime;
import java.time.format.DateTimeFormatter;
import java.util.ArrayList;
import java.util.List;
import java.util.Set;
import java.util.concurrent.CountDownLatch;
import java.util.stream.Collectors;

/**
 * Runs inside the launcher's child JVM while the probe is enabled and asks
 * the native side for a thread dump, a stack trace, thread statuses and the
 * platform figures. The home (the child's current directory) holds a
 * property file that shortens the stack-trace wait.
 */
public class DiagnosticsWorkload implements Launcher.Workload {
    static volatile boolean spin = true;

    @Override
    public void run() throws Exception {
        report("probeEnabled", ProbeController.isNativeProbeEnabled());
        threadDump();
        stackTrace();
        statuses();
        platformFigures();
    }

    static Set<String> liveThreadNames() {
        return Thread.getAllStackTraces().keySet().stream().map(Thread::getName).collect(Collectors.toSet());
    }

    static List<String> javacores() throws IOException {
        List<String> names = new ArrayList<>();
        try (DirectoryStream<Path> dir = Files.newDirectoryStream(Paths.get("."), "javacore*")) {
            for (Path p : dir) names.add(p.getFileName().toString());
        }
        return names;
    }

    void threadDump() throws Exception {
        report("dumpOfNullInfo", CommandAgent.generateThreadDump(null));
        Set<String> before = liveThreadNames();
        ThreadDumpInfo info = new ThreadDumpInfo();
        report("dumpResult", CommandAgent.generateThreadDump(info));
        report("dumpName", info.getFileName());
        report("dumpOffset", info.getOffSet());
        Path file = Paths.get(info.getFileName() == null ? "-" : info.getFileName());
        report("dumpExists", Files.isRegularFile(file));
        before.retainAll(liveThreadNames());
        String text = Files.isRegularFile(file)
                ? new String(Files.readAllBytes(file), StandardCharsets.UTF_8) : "";
        List<String> missing = new ArrayList<>();
        for (String name : before) {
            if (!text.contains("\"" + name + "\" TID:0x")) missing.add(name);
        }
        report("dumpMissingThreads", missing);
    }

    // The known method the traced thread sleeps in, and its caller.
    static void outerMethod(CountDownLatch sleeping) throws InterruptedException {
        sleepInKnownMethod(sleeping);
    }

    static void sleepInKnownMethod(CountDownLatch sleeping) throws InterruptedException {
        sleeping.countDown();
        Thread.sleep(60000);
    }

    void stackTrace() throws Exception {
        // A javacore named one second before the request: skipped and kept.
        String stamp = LocalDateTime.now().minusSeconds(1)
                .format(DateTimeFormatter.ofPattern("yyyyMMdd.HHmmss"));
        Path old = Paths.get("javacore." + stamp + "." + ProbeSystem.getProcessId() + ".txt");
        Files.write(old, "\"x\" TID:0x1, sys_thread_t:0x1\n    at a/B.c(B.java)\n".getBytes(
                StandardCharsets.UTF_8));

        CountDownLatch sleeping = new CountDownLatch(1);
        int[] key = new int[1];
        Thread sleeper = new Thread(() -> {
            key[0] = ThreadManager.getEnv();
            ThreadManager.startNativeHttpRequest(0, "/sleep", "app", "/app/sleep", null);
            try { outerMethod(sleeping); } catch (InterruptedException e) { } // ended by the workload
            ThreadManager.finishNativeHttpRequest("/sleep", 0, 0);
        }, "dc-sleeper");
        sleeper.setDaemon(true);
        sleeper.start();
        sleeping.await();
        while (sleeper.getState() != Thread.State.TIMED_WAITING) Thread.sleep(5);

        List<String> coresBefore = javacores();
        String[] trace = ThreadManager.getStackTrace(key[0], 3, 0);
        report("traceLength", trace == null ? -1 : trace.length);
        List<String> frames = new ArrayList<>();
        if (trace != null) {
            for (int i = 0; i + 2 < trace.length; i += 3) {
                frames.add(trace[i] + "." + trace[i + 1] + "|" + trace[i + 2]);
            }
        }
        report("traceFrames", String.join(",", frames));
        report("traceFileDeleted", javacores().equals(coresBefore));
        report("oldJavacoreKept", Files.exists(old));
        report("traceOfUnknownKey", ThreadManager.getStackTrace(0x7ffffff0, 3, 0) == null);
        report("traceOfNoFrames", ThreadManager.getStackTrace(key[0], 0, 0) == null);
        sleeper.interrupt();
        sleeper.join();
    }

    void statuses() throws Exception {
        Object entered = new Object();
        Object waitedOn = new Object();
        int[] keys = new int[4];
        long[] counter = new long[1];
        CountDownLatch registered = new CountDownLatch(4);
        Runnable[] bodies = { // blocked on the monitor held here, waiting, running, ended
            () -> { synchronized (entered) { counter[0]++; } },
            () -> { synchronized (waitedOn) { try { waitedOn.wait(); } catch (InterruptedException e) { } } },
            () -> { while (spin) counter[0]++; },
            () -> {}
        };
        List<Thread> threads = new ArrayList<>();
        for (int i = 0; i < 4; i++) {
            final int n = i;
            threads.add(new Thread(() -> {
                keys[n] = ThreadManager.getEnv();
                ThreadManager.startNativeHttpRequest(0, "/s", "app", "/app/s", null);
                registered.countDown();
                bodies[n].run();
            }, "dc-status-" + i));
        }
        synchronized (entered) {
            for (Thread t : threads) t.start();
            registered.await();
            threads.get(3).join();
            waitForState(threads.get(0), Thread.State.BLOCKED);
            waitForState(threads.get(1), Thread.State.WAITING);
            report("statusBlocked", ThreadManager.getNativeThreadStatus(keys[0]));
            report("statusWaiting", ThreadManager.getNativeThreadStatus(keys[1]));
            report("statusRunning", ThreadManager.getNativeThreadStatus(keys[2]));
            report("statusEnded", ThreadManager.getNativeThreadStatus(keys[3]));
            ThreadManager.setThreadStatus(keys[1], 4);
            report("statusStopped", ThreadManager.getNativeThreadStatus(keys[1]));
            report("traceOfStopped", ThreadManager.getStackTrace(keys[1], 3, 0) == null);
            spin = false;
        }
        synchronized (waitedOn) {
            waitedOn.notifyAll();
        }
        for (Thread t : threads) t.join();
    }

    static void waitForState(Thread t, Thread.State state) throws InterruptedException {
        while (t.getState() != state) Thread.sleep(2);
    }

    /** The figures out of their ranges, by name. */
    void platformFigures() {
        PerfSummaryImpl perf = new PerfSummaryImpl();
        long micros = ProbeSystem.nativeGetTimeMicroSeconds();
        double process = ProbeSystem.nativeUpdateAppServerCPU();
        double machine = ProbeSystem.nativeUpdatePlatformCPU();
        boolean[] ok = {
            perf.getTotalPhysicalMemory() == ProbeSystem.totalMemory >> 20 && ProbeSystem.totalMemory > 0,
            perf.getPagingRate(999) == 0 && perf.getPagingRate(1000) >= 0,
            perf.getDiskSpace() > 0 && perf.getVM() >= 0,
            perf.getDiskIO() >= 0 && perf.getNetworkIO() >= 0,
            micros >= 0 && micros < 1000000 && micros % 1000 == 0,
            ProbeSystem.nativeGetCurrentThreadCPUTime() > 0 && ProbeSystem.nativeUpdateAppServerCPUTime() > 0,
            process >= 0 && process <= 100 && machine >= 0 && machine <= 100,
            ProbeSystem.nativeUpdatePlatformCPUTime() == 0};
        String[] names = {"memory", "paging", "disk+vm", "io", "micros", "cpuTime", "percent",
            "platformCpuTime"};
        List<String> bad = new ArrayList<>();
        for (int i = 0; i < ok.length; i++) if (!ok[i]) bad.add(names[i]);
        report("figuresOutOfRange", bad);
    }
}
