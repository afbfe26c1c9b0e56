package com.halden.command.heap;

/** Heap snapshots: a per-class summary of the heap, appended to a buffer. */
public final class HeapUtil {
    private HeapUtil() {}

    /** 0 success, 1 not enough memory, 3 a Java exception. */
    public static native int getHeapSnapShotData(StringBuffer buffer);

    /** 0 when the process has room for a snapshot, 1 when not. */
    public static native int testHeapDumpEnvironmentNative();
}
