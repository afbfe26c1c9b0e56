package com.halden.command.monitoring;

/** Machine and process figures that the native side reads from the system. */
public class PerfSummaryImpl {
    /** Bytes paged per second, sampled over the interval (at least 1000 ms, else 0). */
    public native long getPagingRate(int intervalMillis);
    /** Free bytes of the system disk. */
    public native long getDiskSpace();
    /** The process's page-file (swap) use in bytes. */
    public native long getVM();
    /** Average bytes per disk transfer, in megabytes. */
    public native long getDiskIO();
    /** Network bytes per second, in megabytes. */
    public native long getNetworkIO();
    /** Physical memory in megabytes. */
    public native long getTotalPhysicalMemory();
}
