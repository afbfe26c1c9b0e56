package com.halden.jvmtest.support;

import java.util.ArrayList;
import java.util.HashMap;
import java.util.List;
import java.util.Map;
import java.util.regex.Matcher;
import java.util.regex.Pattern;

/** What a child JVM left behind: its exit code, its output and when (epoch milliseconds) it ran. */
public final class RunResult {
    private final List<String> command;
    private final int exitCode;
    private final String stdout, stderr;
    public final long startMillis, endMillis;
    private final Map<String, String> checks = new HashMap<>();

    RunResult(List<String> command, int exitCode, String stdout, String stderr, long startMillis,
            long elapsedMillis) {
        this.command = command;
        this.exitCode = exitCode;
        this.stdout = stdout;
        this.stderr = stderr;
        this.startMillis = startMillis;
        this.endMillis = startMillis + elapsedMillis;
        for (String line : lines(stdout)) {
            int eq = line.indexOf('=');
            if (line.startsWith(Checks.PREFIX) && eq > Checks.PREFIX.length()) {
                checks.put(line.substring(Checks.PREFIX.length(), eq), line.substring(eq + 1));
            }
        }
    }

    public int exitCode() { return exitCode; }
    public String stdout() { return stdout; }
    public String stderr() { return stderr; }
    public long checkLong(String name) { return Long.parseLong(check(name)); }
    public boolean checkBoolean(String name) { return Boolean.parseBoolean(check(name)); }
    public boolean hasStdoutLine(String line) { return lines(stdout).contains(line); }

    /** The value a workload reported with {@link Checks#report}; fails when absent. */
    public String check(String name) {
        String value = checks.get(name);
        if (value == null) throw new AssertionError("no check " + name + "\n" + describe());
        return value;
    }

    /** The values of several checks, joined by commas. */
    public String checks(String... names) {
        List<String> values = new ArrayList<>();
        for (String name : names) values.add(check(name));
        return String.join(",", values);
    }

    /** The first match of the pattern (multi-line) in stdout or stderr, or fails. */
    public Matcher findInStdout(String regex) { return find(stdout, regex); }
    public Matcher findInStderr(String regex) { return find(stderr, regex); }

    private Matcher find(String text, String regex) {
        Matcher m = Pattern.compile(regex, Pattern.MULTILINE).matcher(text);
        if (!m.find()) throw new AssertionError("no match for /" + regex + "/\n" + describe());
        return m;
    }

    /** The command and both outputs, for assertion messages. */
    public String describe() {
        return "command: " + String.join(" ", command) + "\nexit code: " + exitCode
                + "\n--- stdout ---\n" + stdout + "\n--- stderr ---\n" + stderr;
    }

    static List<String> lines(String text) { return new ArrayList<>(List.of(text.split("\r?\n"))); }
}
