package com.halden.jvmtest;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.junit.jupiter.api.Assumptions.assumeTrue;

import com.halden.jvmtest.support.ChildJvm;
import com.halden.jvmtest.support.RunResult;
import com.halden.jvmtest.support.TempHome;
import com.halden.jvmtest.workload.LifecycleChecks;
import java.nio.file.Files;
import java.nio.file.Path;
import java.time.LocalDateTime;
import java.time.ZoneId;
import java.time.format.DateTimeFormatter;
import java.util.List;
import java.util.regex.Matcher;
import java.util.regex.Pattern;
import org.junit.jupiter.api.AfterAll;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.TestInstance;

/**
 * One child JVM runs the launcher's whole lifecycle with the library loaded
 * by -agentpath, in a fresh home without a MOD file or property file; every
 * test examines what that one run left behind (the stop alone takes ten
 * seconds).
 */
@TestInstance(TestInstance.Lifecycle.PER_CLASS)
class LifecycleTest {
    static final String ASCTIME = "\\w{3} \\w{3} [ \\d]\\d \\d\\d:\\d\\d:\\d\\d \\d{4}";

    TempHome home;
    RunResult run;
    Path logFile;
    List<String> log;

    @BeforeAll
    void runLifecycle() throws Exception {
        home = TempHome.create();
        run = ChildJvm.in(home).launcher(LifecycleChecks.class, "--time", "200").run();
        logFile = home.onlyLogFile();
        log = Files.readAllLines(logFile);
    }

    @AfterAll
    void removeHome() {
        if (home != null) home.close();
    }

    String modFile() {
        return home.modFile(ChildJvm.NODE, ChildJvm.SERVER).toString();
    }

    int logIndex(String text) {
        return logIndexAfter(-1, text);
    }

    /** Index of the first log line after start containing the text, or fails. */
    int logIndexAfter(int start, String text) {
        for (int i = start + 1; i < log.size(); i++) {
            if (log.get(i).contains(text)) return i;
        }
        throw new AssertionError("log has no line with \"" + text + "\" after line " + start
                + ":\n" + String.join("\n", log));
    }

    // What the unit tests check of single lines (tracer mode, property file
    // search, boot class, MOD file content, level parsing) is not repeated
    // here: these tests check what only the real JVM and launcher show.
    @Test
    void announcesItsOptionsAndTellsTheJavaSideItsFiles() {
        assertTrue(run.hasStderrLine(
                "[HM]: INFO: not using method level sync, cleanup interval: 150 "),
                run.describe());
        assertFalse(run.stderr().contains("system property undefined"), run.describe());
        assertEquals(logFile.toString(), run.check("logFileName"));
        assertEquals(modFile(), run.check("MOD_FILE"));
    }

    static final Pattern NAME = Pattern.compile("n\\.s\\.(\\d{14})\\.(\\d+)\\.datacollector\\.log");

    @Test
    void isNamedAfterNodeServerStartTimeAndProcess() {
        Matcher m = NAME.matcher(logFile.getFileName().toString());
        assertTrue(m.matches(), logFile.toString());
        assertEquals(run.check("javaPid"), m.group(2));
        LocalDateTime stamp = LocalDateTime.parse(m.group(1),
                DateTimeFormatter.ofPattern("yyyyMMddHHmmss"));
        long stampMillis = stamp.atZone(ZoneId.systemDefault()).toInstant().toEpochMilli();
        assertTrue(stampMillis >= run.startMillis() - 1000
                && stampMillis <= run.startMillis() + run.elapsedMillis(),
                "log time stamp " + stamp + " outside the run");
    }

    @Test
    void beginsWithTheModFileThenBuildTimeAndInterfaceLines() {
        // The time stamp keeps the place of asctime's line end as a blank.
        assertTrue(log.get(0).matches(ASCTIME + "  INFO: " + ASCTIME
                + "\tINFO:\\[DataCollector\\] using modfile: '" + Pattern.quote(modFile())
                + "'"), log.get(0));
        int build = logIndex("INFO: ***** Native Library Build TIME : ");
        logIndexAfter(logIndexAfter(build, "INFO: Initializing interface "),
                "INFO: Initializing event interface successful ");
    }

    @Test
    void holdsNoErrorLinesButTheRejectedLevel() {
        for (String line : log) {
            assertFalse(line.contains("##ERROR") && !line.contains("Incorrect MOD level given"),
                    String.join("\n", log));
        }
    }

    @Test
    void isNotChangedWhileTheProbeIsDisabled() {
        assertEquals("1002", run.check("levelBeforeStart"));
        assertEquals("2", run.check("probeLevel"));
        assertEquals("false", run.check("enabledBeforeAgents"));
        assertEquals("false", run.check("setWhileDisabled"));
        assertEquals("1002", run.check("levelAfterSetWhileDisabled"));
        logIndex("INFO: Native probe is disabled, rejecting setModLevel");
    }

    @Test
    void changesOnlyToValidNewLevelsOnceEnabled() {
        assumeTrue(run.checkBoolean("enabled"),
                "the probe was never enabled: this library runs no agent threads");
        assertEquals("true", run.check("set1003"));
        assertEquals("1003", run.check("levelAfter1003"));
        logIndex("INFO: Native MOD level changed from (2) to (3)");
        assertEquals("false", run.check("set0"));
        assertEquals("1003", run.check("levelAfterRejected"));
    }

    @Test
    void fillsTheProcessFacts() {
        assertEquals(run.check("javaPid"), run.check("processId"));
        assertEquals(run.check("javaPid"), run.check("getProcessId"));
        assertTrue(run.checkLong("numberOfCPUs") >= run.checkLong("availableProcessors"));
        assertTrue(run.checkLong("numberOnline") >= 1, run.describe());
        assertTrue(run.checkLong("cpuSpeed") >= 0, run.describe());
        assertEquals("i686", run.check("cpuType"));
        assertEquals("1", run.check("platform"));
        String argv = run.check("argumentVector");
        assertTrue(argv.contains("-Dhm.nodename=n") && argv.contains("com.halden.probe.Launcher"),
                argv);
        assertTrue(run.check("buildTime").matches(
                "TIME : \\d\\d:\\d\\d:\\d\\d DATE: \\w{3} [ \\d]\\d \\d{4}\\\\n"),
                run.check("buildTime"));
    }

    @Test
    void fillsThePhysicalMemory() throws Exception {
        long expected = 0;
        for (String line : Files.readAllLines(Path.of("/proc/meminfo"))) {
            if (line.startsWith("MemTotal:")) {
                expected = Long.parseLong(line.replaceAll("\\D", "")) * 1024;
            }
        }
        long total = run.checkLong("totalMemory");
        assertTrue(Math.abs(total - expected) <= expected / 100,
                "totalMemory " + total + ", /proc/meminfo " + expected);
    }

    @Test
    void theThreadIdIsTheSameForBothNativesAndDiffersBetweenThreads() {
        assertEquals("true", run.check("threadIdsAgree"));
        assertNotEquals("0", run.check("threadId"));
        assertNotEquals(run.check("threadId"), run.check("otherThreadId"));
    }

    @Test
    void endsWithExitCodeZero() {
        assertEquals(0, run.exitCode(), run.describe());
        assertTrue(run.hasStdoutLine("[launcher] customServiceStart: true")
                && run.hasStdoutLine("[launcher] initializeProbe: true"), run.describe());
        assertEquals("false", run.check("enabledAfterStop"));
    }

    @Test
    void theStopTakesAtLeastTenSeconds() {
        Matcher m = run.findInStdout("^\\[launcher\\] stopNativeProbe returned after (\\d+) ms$");
        assertTrue(Long.parseLong(m.group(1)) >= 10000, m.group());
        int waiting = logIndex("Waiting for 10 secs");
        int done = logIndexAfter(waiting, "Waiting DONE 10 secs");
        long seconds = secondsBetween(log.get(waiting), log.get(done));
        assertTrue(seconds >= 9, "wait of " + seconds + " s in the log");
    }

    @Test
    void runsTheOrdersInSequence() {
        String[] order = {"Starting Native Custom Service initialize.. ",
            "Native Custom Service initialization successful.. ", "Native Probe starting.. ",
            "PropertyMgr started.", "Enabled JVMPI events.", "ProbeManager Started..",
            "Native Probe started successfully.. ", "Native Probe stopping.. ", "Waiting for 10 secs",
            "Waiting DONE 10 secs", "Disabled JVMPI events.", "Probe Manager stopped successfully..",
            "Native Probe stopped successfully.. ", "Native Custom Service shutting down.. ",
            "Native Custom Service shutdown complete.. "};
        int at = -1;
        for (String text : order) at = logIndexAfter(at, text);
    }

    @Test
    void leavesNoThreadInANativeLoop() {
        Matcher m = run.findInStdout("^\\[launcher\\] agent threads ended: (\\d+) of (\\d+)$");
        assertEquals(m.group(2), m.group(1));
        assertEquals("0", run.check("threadsInNativeLoops"),
                run.check("threadsInNativeLoopsList"));
    }

    static long secondsBetween(String first, String second) {
        DateTimeFormatter asctime = DateTimeFormatter.ofPattern("EEE MMM ppd HH:mm:ss yyyy",
                java.util.Locale.ENGLISH);
        LocalDateTime a = LocalDateTime.parse(first.substring(0, 24), asctime);
        LocalDateTime b = LocalDateTime.parse(second.substring(0, 24), asctime);
        return java.time.Duration.between(a, b).getSeconds();
    }
}
