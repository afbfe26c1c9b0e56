package com.halden.probe.heap;

/** Heap-allocation records; natives registered through BcmBootstrap. */
public final class HeapAnalysisRuntime {
    private HeapAnalysisRuntime() {}

    public static native void nativeHeapAllocationStart(int a, int b, String c);
    public static native void nativeHeapAllocationEnd(int a, int b, String c);
}
