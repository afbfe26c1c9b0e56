package com.halden.probe.lock;

/** Lock records; natives registered through BcmBootstrap. */
public final class LockAnalysisRuntime {
    private LockAnalysisRuntime() {}

    public static native boolean appendEvent(byte kind, String lockName, int lockId, byte value,
            String text1, String text2, int number, int depth);
}
