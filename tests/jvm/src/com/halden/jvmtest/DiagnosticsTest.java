package com.halden.jvmtest;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.junit.jupiter.api.Assumptions.assumeTrue;

import com.halden.jvmtest.support.ChildJvm;
import com.halden.jvmtest.support.RunResult;
import com.halden.jvmtest.support.TempHome;
import com.halden.jvmtest.workload.DiagnosticsWorkload;
import java.nio.file.Files;
import org.junit.jupiter.api.AfterAll;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.TestInstance;

/**
 * One child JVM asks for diagnostics (DiagnosticsWorkload). Thread records exist only while
 * the probe is enabled, which needs the publishing side.
 */
@TestInstance(TestInstance.Lifecycle.PER_CLASS)
class DiagnosticsTest {
    static final String WORKLOAD = "com/halden/jvmtest/workload/DiagnosticsWorkload.";

    TempHome home;
    RunResult run;

    @BeforeAll
    void runWorkload() throws Exception {
        home = TempHome.create();
        home.writeProperties("internal.stacktrace.sleep=300\n");
        run = ChildJvm.in(home).launcher(DiagnosticsWorkload.class).run();
    }

    @AfterAll
    void removeHome() {
        if (home != null) home.close();
    }

    void assumeEnabled() {
        assumeTrue(run.checkBoolean("probeEnabled"), "the probe was not enabled (no publishing side)");
    }

    @Test
    void aThreadDumpNamesAJavacoreHoldingEveryLiveThread() {
        assertEquals(0, run.exitCode(), run.describe());
        assertEquals(-1, run.checkLong("dumpOfNullInfo"), run.describe());
        assertEquals(0, run.checkLong("dumpResult"), run.describe());
        String name = run.check("dumpName");
        assertTrue(name.matches("javacore\\.\\d{8}\\.\\d{6}\\.\\d+\\.txt"), name);
        assertEquals(0, run.checkLong("dumpOffset"));
        assertTrue(run.checkBoolean("dumpExists"), run.describe());
        assertEquals("[]", run.check("dumpMissingThreads"), run.describe());
        // A full dump is left for the caller.
        assertTrue(Files.exists(home.path().resolve(name)), name);
    }

    @Test
    void aStackTraceGivesTheSleepingMethodAndItsCallers() {
        assumeEnabled();
        assertEquals(9, run.checkLong("traceLength"), run.describe());
        assertEquals("java/lang/Thread.sleep|," + WORKLOAD + "sleepInKnownMethod|," + WORKLOAD
                + "outerMethod|", run.check("traceFrames"), run.describe());
        assertTrue(run.checkBoolean("traceFileDeleted"), run.describe());
        assertTrue(run.checkBoolean("oldJavacoreKept"), run.describe());
        assertTrue(run.checkBoolean("traceOfUnknownKey"), run.describe());
        assertTrue(run.checkBoolean("traceOfNoFrames"), run.describe());
        assertTrue(run.checkBoolean("traceOfStopped"), run.describe());
    }

    @Test
    void threadStatusesFollowTheThreads() {
        assumeEnabled();
        assertEquals(2, run.checkLong("statusBlocked"), run.describe());
        assertEquals(3, run.checkLong("statusWaiting"), run.describe());
        assertEquals(1, run.checkLong("statusRunning"), run.describe());
        assertEquals(-1, run.checkLong("statusEnded"), run.describe());
        assertEquals(4, run.checkLong("statusStopped"), run.describe());
    }

    @Test
    void platformFiguresAreInRange() {
        assertEquals("[]", run.check("figuresOutOfRange"), run.describe());
    }
}
