package com.halden.bench;

/** The request natives' signatures, implemented by natives that do nothing. */
public final class EmptyNatives {
    private EmptyNatives() {}

    public static native void startNativeHttpRequest(int unused, String requestName,
            String applicationName, String url, String detail);
    public static native void finishNativeHttpRequest(String requestName, int unused1, int unused2);
}
