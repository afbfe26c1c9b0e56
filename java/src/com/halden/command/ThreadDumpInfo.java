package com.halden.command;

/** Receives where a thread dump was written. */
public class ThreadDumpInfo {
    private String fileName;
    private long offSet;

    public void setFileName(String fileName) {
        this.fileName = fileName;
    }

    public void setOffSet(long offSet) {
        this.offSet = offSet;
    }

    public String getFileName() {
        return fileName;
    }

    public long getOffSet() {
        return offSet;
    }
}
