package com.halden.probe;

/**
 * Facts about this process exchanged with the native probe. The native side
 * reads the configuration fields at {@link #initializeProbe()} and writes the
 * machine facts and the monitoring level back into the fields below them.
 */
public final class ProbeSystem {
    private ProbeSystem() {}

    // Read by initializeProbe.
    public static String haldenHome = System.getProperty("hm.home", "");
    public static String adminServerName = System.getProperty("hm.adminserver", "");
    public static String appServerName = System.getProperty("hm.appserver", "appserver");
    public static int methodHashSize = Integer.getInteger("hm.methodhashsize", 0);
    public static int publishFrequency = 2000;
    public static int eventPacketSize = 5000;
    public static int eventQueueSizeLimit = 5000;
    public static long psRetryFrequency = 30000L;
    public static int wakeupQueueLength = 100;
    public static String probeStdout = null;
    public static String commandAgentID = System.getProperty("hm.commandagentid", "");
    public static int adminServerPort = Integer.getInteger("hm.adminserver.port", 0);
    public static String jvmVersion = System.getProperty("java.version");
    public static Class<?> object = Object.class;
    public static Class<?> clazz = Class.class;
    public static Class<?> string = String.class;

    // Written by initializeProbe; -1 and null until then.
    public static int processId = -1;
    public static int numberOfCPUs = -1;
    public static int numberOnline = -1;
    public static int cpuSpeed = -1;
    public static long totalMemory = -1L;
    public static String cpuType = null;
    public static int platform = -1;
    public static int probeLevel = -1;
    public static String MOD_FILE = null;

    /** The application server's product version as "major.minor.fix", or null. */
    public static String getAppServerProductVersion() {
        return System.getProperty("hm.appserver.version", "6.1.0");
    }

    /** The application server's name, or null. */
    public static String getAppServerName() {
        return System.getProperty("hm.appserver", appServerName);
    }

    public static native boolean initializeProbe();
    public static native int getProcessId();
    public static native String[] getArgumentVector();
    public static native void stopNative();
    public static native void setNativeSamplingRates(int[] rates, int extra);
    public static native int nativeGetCurrentThreadID();

    public static native long nativeGetCurrentThreadCPUTime();
    public static native long nativeGetTimeMicroSeconds();
    public static native long nativeUpdateAppServerCPUTime();
    public static native double nativeUpdateAppServerCPU();
    public static native double nativeUpdatePlatformCPU();
    public static native long nativeUpdatePlatformCPUTime();
}
