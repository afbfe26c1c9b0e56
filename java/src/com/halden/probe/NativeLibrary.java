package com.halden.probe;

/**
 * Makes the natives of the native probe reachable. A library that the JVM
 * loaded as an agent (-agentpath, -agentlib) serves its natives already; one
 * loaded with -Xrun does not, and is loaded once more from java.library.path
 * (the JVM then finds the library it already holds).
 */
public final class NativeLibrary {
    private NativeLibrary() {}

    /** The library's name on java.library.path, after the property {@code hm.native.library}. */
    public static String name() {
        return System.getProperty("hm.native.library", "datacollector");
    }

    /** True when the natives are reachable now. */
    public static synchronized boolean load() {
        if (reachable()) return true;
        System.loadLibrary(name());
        return reachable();
    }

    private static boolean reachable() {
        try {
            ProbeController.isJvmpiEnabled();
            return true;
        } catch (UnsatisfiedLinkError e) {
            return false;
        }
    }
}
