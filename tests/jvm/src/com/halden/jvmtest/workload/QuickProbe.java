package com.halden.jvmtest.workload;

import static com.halden.jvmtest.support.Checks.report;

import com.halden.probe.NativeLibrary;
import com.halden.probe.ProbeController;
import com.halden.probe.log.ProbeLogger;

/** A child JVM main that only reports what the library set up while loading, then exits. */
public final class QuickProbe {
    private QuickProbe() {}

    public static void main(String[] args) {
        report("loaded", NativeLibrary.load());
        report("level", ProbeController.getMonitoringLevel());
        report("jvmpiEnabled", ProbeController.isJvmpiEnabled());
        report("enabled", ProbeController.isNativeProbeEnabled());
        report("logFileName", ProbeLogger.getLogFileName());
    }
}
