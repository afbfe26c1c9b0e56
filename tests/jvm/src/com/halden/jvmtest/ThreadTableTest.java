package com.halden.jvmtest;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assumptions.assumeTrue;

import com.halden.jvmtest.support.ChildJvm;
import com.halden.jvmtest.support.RunResult;
import com.halden.jvmtest.support.TempHome;
import com.halden.jvmtest.workload.ThreadsWorkload;
import org.junit.jupiter.api.AfterAll;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.TestInstance;

/**
 * One child JVM with real Java threads that start, make requests and end (ThreadsWorkload).
 * The thread table is fed only while the probe is enabled, which needs the publishing side.
 */
@TestInstance(TestInstance.Lifecycle.PER_CLASS)
class ThreadTableTest {
    TempHome home;
    RunResult run;

    @BeforeAll
    void runWorkload() throws Exception {
        home = TempHome.create();
        run = ChildJvm.in(home).launcher(ThreadsWorkload.class).run();
    }

    @AfterAll
    void removeHome() {
        if (home != null) home.close();
    }

    @Test
    void everyThreadHasItsOwnIdTheSameThroughBothNatives() {
        assertEquals(0, run.exitCode(), run.describe());
        assertEquals("true,true,true", run.checks("mainIdNonZero", "mainIdsAgree",
                "threadIdsDistinct"), run.describe());
    }

    @Test
    void liveThreadsAreFoundByTheirNamesAndEndedOnesAppearInTheStoppedIds() {
        assumeTrue(run.checkBoolean("probeEnabled"), "the probe was not enabled (no publishing side)");
        assertEquals("true,0,true,true,null", run.checks("lookupFindsTheThread",
                "lookupOfAnUnknownName", "allEndedThreadsReported", "stoppedIdsWellFormed",
                "secondCallAfterDraining"), run.describe());
    }
}
