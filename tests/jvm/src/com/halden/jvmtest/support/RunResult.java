package com.halden.jvmtest.support;

import java.util.ArrayList;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import java.util.regex.Matcher;
import java.util.regex.Pattern;

/** What a child JVM left behind: its exit code, its output and how long it ran. */
public final class RunResult {
    private final List<String> command;
    private final int exitCode;
    private final String stdout;
    private final String stderr;
    private final long startMillis;
    private final long elapsedMillis;
    private final Map<String, String> checks = new LinkedHashMap<>();

    RunResult(List<String> command, int exitCode, String stdout, String stderr, long startMillis,
            long elapsedMillis) {
        this.command = command;
        this.exitCode = exitCode;
        this.stdout = stdout;
        this.stderr = stderr;
        this.startMillis = startMillis;
        this.elapsedMillis = elapsedMillis;
        for (String line : stdoutLines()) {
            if (line.startsWith(Checks.PREFIX)) {
                String rest = line.substring(Checks.PREFIX.length());
                int eq = rest.indexOf('=');
                if (eq > 0) checks.put(rest.substring(0, eq), rest.substring(eq + 1));
            }
        }
    }

    public int exitCode() {
        return exitCode;
    }

    public String stdout() {
        return stdout;
    }

    public String stderr() {
        return stderr;
    }

    public List<String> stdoutLines() {
        return lines(stdout);
    }

    /** Wall-clock time at which the child was started, in milliseconds since the epoch. */
    public long startMillis() {
        return startMillis;
    }

    public long elapsedMillis() {
        return elapsedMillis;
    }

    /** The value a workload reported with {@link Checks#report}; fails when absent. */
    public String check(String name) {
        String value = checks.get(name);
        if (value == null) throw new AssertionError("no check " + name + "\n" + describe());
        return value;
    }

    public long checkLong(String name) {
        return Long.parseLong(check(name));
    }

    public boolean checkBoolean(String name) {
        return Boolean.parseBoolean(check(name));
    }

    public boolean hasStdoutLine(String line) {
        return stdoutLines().contains(line);
    }

    public boolean hasStderrLine(String line) {
        return lines(stderr).contains(line);
    }

    /** The first match of the pattern in stdout, or fails. */
    public Matcher findInStdout(String regex) {
        return find(stdout, regex);
    }

    public Matcher findInStderr(String regex) {
        return find(stderr, regex);
    }

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

    static List<String> lines(String text) {
        List<String> lines = new ArrayList<>(List.of(text.split("\r?\n", -1)));
        if (!lines.isEmpty() && lines.get(lines.size() - 1).isEmpty()) {
            lines.remove(lines.size() - 1);
        }
        return lines;
    }
}
