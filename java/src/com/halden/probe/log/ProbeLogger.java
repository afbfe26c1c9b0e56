package com.halden.probe.log;

/** Writes catalogue messages into the native probe's log file. */
public final class ProbeLogger {
    private ProbeLogger() {}

    public static native void write(int level, String key);
    public static native void setNativeProbeLoggingLevel(int level);
    /** The log file's full path, or null when none was opened. */
    public static native String getLogFileName();
}
