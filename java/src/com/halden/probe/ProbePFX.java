package com.halden.probe;

/** The probe of the PFX hook. */
public final class ProbePFX {
    private ProbePFX() {}

    /** Always 1. */
    public static native int initializeProbe();
}
