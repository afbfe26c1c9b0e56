package com.halden.network;

/** The Java half of the network layer; the native side needs no set-up from it. */
public final class NetworkAgent {
    private NetworkAgent() {}

    public static native void initCppSide();
}
