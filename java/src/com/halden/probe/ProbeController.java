package com.halden.probe;

/** Starts, stops and steers the native probe. */
public final class ProbeController {
    private ProbeController() {}

    public static native void startNativeProbe();
    public static native void stopNativeProbe();
    /** The monitoring level plus 1000: 1001, 1002 or 1003. */
    public static native int getMonitoringLevel();
    public static native boolean setModLevel(int level);
    public static native boolean restartOnToFromL1();
    public static native boolean isNativeProbeEnabled();
    public static native boolean isJvmpiEnabled();
    public static native boolean initializeJVMPI();
    public static native void setIncludeExcludeList(String[] include, String[] exclude);
    public static native void setupGps(String registrationMask);
}
