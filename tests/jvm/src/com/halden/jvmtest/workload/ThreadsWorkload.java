package com.halden.jvmtest.workload;

import static com.halden.jvmtest.support.Checks.report;

import com.halden.command.CommandAgent;
import com.halden.probe.Launcher;
import com.halden.probe.ProbeController;
import com.halden.probe.ProbeSystem;
import com.halden.probe.ThreadManager;
import java.util.ArrayList;
import java.util.HashSet;
import java.util.List;
import java.util.Set;
import java.util.concurrent.CountDownLatch;

/** Real Java threads start, make requests and end; reports what the thread table says of them. */
public class ThreadsWorkload implements Launcher.Workload {
    static final int WORKERS = 6;

    @Override
    public void run() throws Exception {
        // Records and thread events are taken only while the probe is enabled,
        // that is while the publishing side runs.
        boolean enabled = ProbeController.isNativeProbeEnabled();
        report("probeEnabled", enabled);
        int mainId = ThreadManager.getEnv();
        report("mainIdNonZero", mainId != 0);
        report("mainIdsAgree", mainId == ProbeSystem.nativeGetCurrentThreadID());

        // A thread that waits while it is looked up by its names.
        CountDownLatch named = new CountDownLatch(1);
        CountDownLatch release = new CountDownLatch(1);
        int[] lookupId = new int[1];
        Thread waiting = new Thread(() -> {
            lookupId[0] = ThreadManager.getEnv();
            ThreadManager.startNativeHttpRequest(0, "/wait", "app", "/app/wait", null);
            named.countDown();
            await(release);
            ThreadManager.finishNativeHttpRequest("/wait", 0, 0);
        }, "dc-lookup");
        waiting.start();
        named.await();
        String group = Thread.currentThread().getThreadGroup().getName();
        report("lookupFindsTheThread", CommandAgent.getThreadId("dc-lookup", group) == lookupId[0]);
        report("lookupOfAnUnknownName", CommandAgent.getThreadId("dc-no-such-thread", group));
        release.countDown();
        waiting.join();

        // Workers that each make requests and end. Ids are unique among live
        // threads (an ended thread's id may come back), so the workers all
        // take theirs before any of them goes on to end.
        int[] ids = new int[WORKERS];
        CountDownLatch allHaveIds = new CountDownLatch(WORKERS);
        List<Thread> workers = new ArrayList<>();
        for (int i = 0; i < WORKERS; i++) {
            final int n = i;
            workers.add(new Thread(() -> {
                ids[n] = ThreadManager.getEnv();
                allHaveIds.countDown();
                await(allHaveIds);
                for (int k = 0; k < 10; k++) {
                    ThreadManager.startNativeHttpRequest(0, "/r" + k, "app", "/app/r", "d");
                    ThreadManager.beginNativeEJBRequest("app", "bean", "ejb/bean");
                    ThreadManager.endNativeEJBRequest("app", "bean", "ejb/bean");
                    ThreadManager.finishNativeHttpRequest("/r" + k, 0, 0);
                }
            }, "dc-worker-" + i));
        }
        for (Thread t : workers) t.start();
        for (Thread t : workers) t.join();
        Set<Integer> expected = new HashSet<>();
        for (int id : ids) expected.add(id);
        report("threadIdsDistinct", expected.size() == WORKERS && !expected.contains(0));
        expected.add(lookupId[0]);

        // Thread ends reach the ring of stopped ids; other threads of the JVM
        // may end meanwhile, so the ids are collected until all have come.
        Set<Integer> stopped = new HashSet<>();
        boolean wellFormed = true;
        long deadline = System.currentTimeMillis() + (enabled ? 10000 : 0);
        while (!stopped.containsAll(expected) && System.currentTimeMillis() < deadline) {
            String text = ThreadManager.getNativeStoppedThreadIDs();
            if (text == null) Thread.sleep(20);
            // Right-aligned in at least ten columns, each followed by ";".
            else wellFormed &= text.endsWith(";") && !text.matches(".*(^|;)[^;]{0,9};.*");
            for (String item : text == null ? new String[0] : text.split(";")) {
                stopped.add(Integer.parseInt(item.trim()));
            }
        }
        report("allEndedThreadsReported", stopped.containsAll(expected));
        report("stoppedIdsWellFormed", wellFormed);
        report("secondCallAfterDraining", ThreadManager.getNativeStoppedThreadIDs());
    }

    private static void await(CountDownLatch latch) {
        try {
            latch.await();
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
        }
    }
}
