package com.halden.probe.l3trace;

/** Method-level records of instrumented classes; natives registered through BcmBootstrap. */
public final class BcmRuntime {
    private BcmRuntime() {}

    public static native boolean appendL3Event(byte exitFlag, int methodId);
    public static native boolean sendClassEventNative(int classNumber, String className,
            int[] methodIds, String[] methodNames, String[] methodSignatures);
    public static native boolean sendClassUnloadEventNative(int classNumber, String className,
            int[] methodIds);
}
