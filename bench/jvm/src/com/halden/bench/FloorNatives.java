package com.halden.bench;

/**
 * The request natives' signatures, implemented by natives that do only the
 * unavoidable work: the two clocks per record and one copy of each text.
 */
public final class FloorNatives {
    private FloorNatives() {}

    public static native void startNativeHttpRequest(int unused, String requestName,
            String applicationName, String url, String detail);
    public static native void finishNativeHttpRequest(String requestName, int unused1, int unused2);
}
