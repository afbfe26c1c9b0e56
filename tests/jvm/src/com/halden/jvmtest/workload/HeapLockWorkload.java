package com.halden.jvmtest.workload;

import static com.halden.jvmtest.support.Checks.report;

import com.halden.bcm.bootstrap.BcmBootstrap;
import com.halden.command.heap.HeapUtil;
import com.halden.probe.Launcher;
import com.halden.probe.ProbeController;
import com.halden.probe.ThreadManager;
import com.halden.probe.heap.HeapAnalysisRuntime;
import com.halden.probe.lock.LockAnalysisRuntime;
import java.util.ArrayList;
import java.util.List;

/**
 * Runs while the probe is enabled: takes a heap snapshot while it holds
 * 10000 instances of {@link Held}, then makes lock and heap-allocation
 * records inside an HTTP request and one outside any request.
 */
public final class HeapLockWorkload implements Launcher.Workload {
    /** The class whose instances the snapshot must count. */
    record Held(long value) {}

    static final List<Held> HELD = new ArrayList<>();

    @Override
    public void run() throws Exception {
        report("probeEnabled", ProbeController.isNativeProbeEnabled());
        BcmBootstrap.defineNativeMethodsForClassNative(LockAnalysisRuntime.class,
                "com.halden.probe.lock.LockAnalysisRuntime");
        BcmBootstrap.defineNativeMethodsForClassNative(HeapAnalysisRuntime.class,
                "com.halden.probe.heap.HeapAnalysisRuntime");

        for (int i = 0; i < 10000; i++) HELD.add(new Held(i));
        report("environment", HeapUtil.testHeapDumpEnvironmentNative());
        StringBuffer summary = new StringBuffer();
        report("snapshot", HeapUtil.getHeapSnapShotData(summary));
        String[] lines = summary.toString().split("\n");
        report("summaryHead", lines[0]);
        for (String line : lines) {
            if (line.startsWith(Held.class.getName().replace('.', '/') + ",")) report("heldLine", line);
        }
        report("summaryTail", lines[lines.length - 2] + "|" + lines[lines.length - 1]);

        report("outsideRequest", LockAnalysisRuntime.appendEvent((byte) 1, "m", 1, (byte) 0, null,
                null, 0, 0));
        int self = ThreadManager.getEnv();
        ThreadManager.startNativeHttpRequest(0, "/lock", "app", "/app/lock", null);
        boolean all = LockAnalysisRuntime.appendEvent((byte) 1, "monitorA", 11, (byte) 0, null,
                null, 0, 0);
        all &= LockAnalysisRuntime.appendEvent((byte) 2, "monitorA", 11, (byte) 0, null, null, 0, 0);
        all &= LockAnalysisRuntime.appendEvent((byte) 3, "lockB", 12, (byte) 5, "waiter", "owner",
                42, self);
        all &= LockAnalysisRuntime.appendEvent((byte) 4, "lockB", 12, (byte) 5, null, null, 0, 0);
        all &= LockAnalysisRuntime.appendEvent((byte) 5, "lockC", 13, (byte) 0, null, null, 0, 0);
        all &= LockAnalysisRuntime.appendEvent((byte) 6, "lockC", 13, (byte) 0, null, null, 0, 0);
        report("unknownKind", LockAnalysisRuntime.appendEvent((byte) 7, "x", 1, (byte) 0, null,
                null, 0, 0));
        HeapAnalysisRuntime.nativeHeapAllocationStart(21, 22, "alloc");
        HeapAnalysisRuntime.nativeHeapAllocationEnd(21, 0, "alloc");
        ThreadManager.finishNativeHttpRequest("/lock", 0, 0);
        report("insideRequest", all);
        // Time for the records to reach the collector.
        Thread.sleep(1500);
    }
}
