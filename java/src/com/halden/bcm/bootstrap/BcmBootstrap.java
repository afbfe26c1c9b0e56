package com.halden.bcm.bootstrap;

import java.util.Arrays;

/** Entry of the class-load instrumentation. This Java side instruments nothing. */
public final class BcmBootstrap {
    private BcmBootstrap() {}

    /** The rewritten class, or null to keep the bytes as they are. */
    public static byte[] instrumentClassFromJVMPI(byte[] classBytes, String className) {
        return null;
    }

    /** The bytes to define, called by rewritten class-definition methods. */
    public static byte[] instrumentClassStatic(ClassLoader loader, String name, byte[] bytes,
            int offset, int length) {
        if (bytes == null) return null;
        return Arrays.copyOfRange(bytes, offset, offset + length);
    }

    /** Has the native side register the natives of a runtime class. */
    public static native void defineNativeMethodsForClassNative(Class<?> target, String name);
}
