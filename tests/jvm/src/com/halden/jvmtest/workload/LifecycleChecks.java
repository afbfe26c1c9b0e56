package com.halden.jvmtest.workload;

import static com.halden.jvmtest.support.Checks.report;

import com.halden.probe.Launcher;
import com.halden.probe.ProbeController;
import com.halden.probe.ProbeSystem;
import com.halden.probe.ProbeUtils;
import com.halden.probe.log.ProbeLogger;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.Map;

/** Reports, at each point of the launcher's lifecycle, what the natives answer there. */
public class LifecycleChecks implements Launcher.Workload {
    @Override
    public void initialized() {
        Object[] fields = {"processId", ProbeSystem.processId, "numberOfCPUs",
            ProbeSystem.numberOfCPUs, "numberOnline", ProbeSystem.numberOnline, "cpuSpeed",
            ProbeSystem.cpuSpeed, "totalMemory", ProbeSystem.totalMemory, "cpuType",
            ProbeSystem.cpuType, "platform", ProbeSystem.platform, "probeLevel",
            ProbeSystem.probeLevel, "MOD_FILE", ProbeSystem.MOD_FILE};
        for (int i = 0; i < fields.length; i += 2) report((String) fields[i], fields[i + 1]);
        report("javaPid", ProcessHandle.current().pid());
        report("availableProcessors", Runtime.getRuntime().availableProcessors());
        report("getProcessId", ProbeSystem.getProcessId());
        report("levelBeforeStart", ProbeController.getMonitoringLevel());
        report("jvmpiEnabled", ProbeController.isJvmpiEnabled());
        report("buildTime", ProbeUtils.getBuildTime());
        report("logFileName", ProbeLogger.getLogFileName());
        String[] argv = ProbeSystem.getArgumentVector();
        report("argumentVector", argv == null ? null : String.join(" ", argv));
    }

    @Override
    public void started() {
        report("enabledBeforeAgents", ProbeController.isNativeProbeEnabled());
        report("setWhileDisabled", ProbeController.setModLevel(1003));
        report("levelAfterSetWhileDisabled", ProbeController.getMonitoringLevel());
    }

    @Override
    public void run() {
        boolean enabled = ProbeController.isNativeProbeEnabled();
        report("enabled", enabled);
        if (!enabled) return;
        report("set1003", ProbeController.setModLevel(1003));
        report("levelAfter1003", ProbeController.getMonitoringLevel());
        report("set0", ProbeController.setModLevel(0));
        report("levelAfterRejected", ProbeController.getMonitoringLevel());
    }

    @Override
    public void stopped() {
        report("enabledAfterStop", ProbeController.isNativeProbeEnabled());
        List<String> inNative = new ArrayList<>();
        for (Map.Entry<Thread, StackTraceElement[]> e : Thread.getAllStackTraces().entrySet()) {
            if (e.getKey() == Thread.currentThread()) continue;
            StackTraceElement[] stack = e.getValue();
            if (stack.length > 0 && stack[0].isNativeMethod()
                    && Arrays.stream(stack).anyMatch(f -> f.getClassName().startsWith("com.halden."))) {
                inNative.add(e.getKey().getName() + " in " + stack[0]);
            }
        }
        report("threadsInNativeLoops", inNative.size());
        report("threadsInNativeLoopsList", inNative);
    }
}
