package com.halden.probe;

/** Request boundaries and thread facts of the calling thread. */
public final class ThreadManager {
    private ThreadManager() {}

    /** The calling thread's id as the native probe knows it. */
    public static native int getEnv();
    public static native String getNativeStoppedThreadIDs();
    public static native String getNativeProbeStatus();

    public static native void startNativeHttpRequest(int unused, String requestName,
            String applicationName, String url, String detail);
    public static native void finishNativeHttpRequest(String requestName, int unused1, int unused2);
    public static native void errorNativeHttpRequest(String requestName, String applicationName,
            String url);
    public static native void beginNativeEJBRequest(String applicationName, String requestName,
            String url);
    public static native void endNativeEJBRequest(String applicationName, String requestName,
            String url);
    public static native void issueTraceRequest();
    public static native void setThreadStatus(int threadId, int status);

    public static native String[] getStackTrace(int threadKey, int maxFrames, int unused);
    public static native int getNativeThreadStatus(int threadKey);
}
