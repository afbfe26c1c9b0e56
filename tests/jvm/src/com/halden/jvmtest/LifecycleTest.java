package com.halden.jvmtest;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
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
 * by -Xrun (the other JVM tests load it by -agentpath), in a fresh home
 * without a MOD file or property file; every test examines what that one run
 * left behind (the stop alone takes ten seconds).
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
        run = ChildJvm.in(home).loading(ChildJvm.Loading.XRUN)
                .launcher(LifecycleChecks.class, "--time", "200").run();
        logFile = home.onlyLogFile();
        log = Files.readAllLines(logFile);
    }

    @AfterAll
    void removeHome() {
        if (home != null) home.close();
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
    void initializeProbeFillsTheProcessFactsAndTellsTheJavaSideItsFiles() throws Exception {
        assertTrue(run.stderr().contains("[HM]: INFO: not using method level sync, cleanup interval: 150 \n")
                && run.hasStdoutLine("## Tracer Mode: Default State: false "), run.describe());
        String output = run.stdout() + run.stderr();
        for (String bad : new String[] {"system property undefined",
                "JVMPI, an experimental interface", "Error occurred during initialization of VM"}) {
            assertFalse(output.contains(bad), run.describe());
        }
        String mod = home.modFile(ChildJvm.NODE, ChildJvm.SERVER).toString();
        String pid = run.check("javaPid");
        assertEquals(String.join(",", logFile.toString(), mod, pid, pid, "i686", "1", "true"),
                run.checks("logFileName", "MOD_FILE", "processId", "getProcessId", "cpuType",
                        "platform", "jvmpiEnabled"));
        assertTrue(run.checkLong("numberOfCPUs") >= run.checkLong("availableProcessors")
                && run.checkLong("numberOnline") >= 1 && run.checkLong("cpuSpeed") >= 0,
                run.describe());
        String argv = run.check("argumentVector");
        assertTrue(argv.contains("-Dhm.nodename=n") && argv.contains("com.halden.probe.Launcher"),
                argv);
        assertTrue(run.check("buildTime").matches(
                "TIME : \\d\\d:\\d\\d:\\d\\d DATE: \\w{3} [ \\d]\\d \\d{4}\\\\n"),
                run.check("buildTime"));
        long expected = 0;
        for (String line : Files.readAllLines(Path.of("/proc/meminfo"))) {
            if (line.startsWith("MemTotal:")) expected = Long.parseLong(line.replaceAll("\\D", "")) * 1024;
        }
        long total = run.checkLong("totalMemory");
        assertTrue(Math.abs(total - expected) <= expected / 100,
                "totalMemory " + total + ", /proc/meminfo " + expected);
    }

    @Test
    void theLogIsNamedAfterTheRunAndBeginsWithTheModFileAndBuildLines() {
        Matcher m = Pattern.compile("n\\.s\\.(\\d{14})\\.(\\d+)\\.datacollector\\.log")
                .matcher(logFile.getFileName().toString());
        assertTrue(m.matches(), logFile.toString());
        assertEquals(run.check("javaPid"), m.group(2));
        LocalDateTime stamp = LocalDateTime.parse(m.group(1),
                DateTimeFormatter.ofPattern("yyyyMMddHHmmss"));
        long stampMillis = stamp.atZone(ZoneId.systemDefault()).toInstant().toEpochMilli();
        assertTrue(stampMillis >= run.startMillis - 1000 && stampMillis <= run.endMillis,
                "log time stamp " + stamp + " outside the run");
        // The time stamp keeps the place of asctime's line end as a blank.
        assertTrue(log.get(0).matches(ASCTIME + "  INFO: " + ASCTIME
                + "\tINFO:\\[DataCollector\\] using modfile: '"
                + Pattern.quote(run.check("MOD_FILE")) + "'"), log.get(0));
        logIndexAfter(logIndexAfter(logIndexAfter(-1, "INFO: ***** Native Library Build TIME : "),
                "INFO: Initializing interface "), "INFO: Initializing event interface successful ");
        // No error line but the rejected level.
        for (String line : log) {
            assertFalse(line.contains("##ERROR") && !line.contains("Incorrect MOD level given"),
                    String.join("\n", log));
        }
    }

    @Test
    void theLevelIsNotChangedWhileTheProbeIsDisabled() {
        assertEquals("1002,2,false,false,1002", run.checks("levelBeforeStart", "probeLevel",
                "enabledBeforeAgents", "setWhileDisabled", "levelAfterSetWhileDisabled"));
        logIndexAfter(-1, "INFO: Native probe is disabled, rejecting setModLevel");
    }

    @Test
    void theLevelChangesOnlyToValidNewLevelsOnceEnabled() {
        assumeTrue(run.checkBoolean("enabled"),
                "the probe was never enabled: this library runs no agent threads");
        assertEquals("true,1003,false,1003",
                run.checks("set1003", "levelAfter1003", "set0", "levelAfterRejected"));
        logIndexAfter(-1, "INFO: Native MOD level changed from (2) to (3)");
    }

    @Test
    void theFullCycleRunsTheOrdersInSequenceAndLeavesNoThreadInANativeLoop() {
        assertEquals(0, run.exitCode(), run.describe());
        assertTrue(run.hasStdoutLine("[launcher] customServiceStart: true")
                && run.hasStdoutLine("[launcher] initializeProbe: true"), run.describe());
        assertEquals("false", run.check("enabledAfterStop"));
        String[] order = {"Starting Native Custom Service initialize.. ",
            "Native Custom Service initialization successful.. ", "Native Probe starting.. ",
            "PropertyMgr started.", "Enabled JVMPI events.", "ProbeManager Started..",
            "Native Probe started successfully.. ", "Native Probe stopping.. ", "Waiting for 10 secs",
            "Waiting DONE 10 secs", "Disabled JVMPI events.", "Probe Manager stopped successfully..",
            "Native Probe stopped successfully.. ", "Native Custom Service shutting down.. ",
            "Native Custom Service shutdown complete.. "};
        int at = -1;
        for (String text : order) at = logIndexAfter(at, text);
        // The stop takes at least ten seconds.
        Matcher m = run.findInStdout("^\\[launcher\\] stopNativeProbe returned after (\\d+) ms$");
        assertTrue(Long.parseLong(m.group(1)) >= 10000, m.group());
        m = run.findInStdout("^\\[launcher\\] agent threads ended: (\\d+) of (\\d+)$");
        assertEquals(m.group(2), m.group(1));
        assertEquals("0", run.check("threadsInNativeLoops"), run.check("threadsInNativeLoopsList"));
        assertEquals("2", TempHome.read(home.modFile(ChildJvm.NODE, ChildJvm.SERVER)));
    }
}
