package com.halden.jvmtest.support;

/**
 * Used inside a child JVM: reports a named value on standard output, where
 * {@link RunResult#check} finds it.
 */
public final class Checks {
    public static final String PREFIX = "[check] ";

    private Checks() {}

    public static void report(String name, Object value) {
        String text = String.valueOf(value).replace("\\", "\\\\").replace("\n", "\\n");
        System.out.println(PREFIX + name + "=" + text);
        System.out.flush();
    }
}
