package com.halden.agent;

/**
 * Added at load time to the classes that implement JDBC statements: a
 * prepared statement keeps the text it was prepared with, which its
 * parameterless execute methods report.
 */
public interface PreparedText {
    /** The prepared SQL text, or null. */
    String halden$sql();

    void halden$setSql(String sql);
}
