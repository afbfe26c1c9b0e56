package com.halden.command;

/** Reports classes and method entries and exits of method-level tracing to the native probe. */
public final class MethodLevelModule {
    private MethodLevelModule() {}

    public static native void initializeClass(String className, int[] methodIds,
            String[] methodNames, String[] methodSignatures);
    public static native void unloadClass(String className);
    public static native void beforeMethod(int methodId);
    public static native void afterMethod(int methodId);
}
