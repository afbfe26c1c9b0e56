package com.halden.command;

/** Commands of the agent that the native side answers. */
public final class CommandAgent {
    private CommandAgent() {}

    /** The native id of the thread with this name and group, or 0. */
    public static native int getThreadId(String threadName, String groupName);
    public static native int generateThreadDump(ThreadDumpInfo info);

    public static native byte[] getNativeGpsToken();
    public static native void startNativeGpsInvokeRequest();
    public static native void endNativeGpsInvokeRequest();
    public static native void startNativeGpsReceiveRequest(String token);
    public static native void completeNativeGpsReceiveRequest(String text);
}
