package com.halden.jvmtest;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;
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
 * One child JVM runs the probe with real Java threads that start, make
 * requests and end (ThreadsWorkload); the tests read what it reported. The
 * thread table is fed only while the probe is enabled, which needs the
 * publishing side: with a library built without it those tests are skipped.
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
        for (String check : new String[] {"mainIdNonZero", "mainIdsAgree", "threadIdsDistinct"}) {
            assertTrue(run.checkBoolean(check), check + "\n" + run.describe());
        }
    }

    @Test
    void liveThreadsAreFoundByTheirNamesAndEndedOnesAppearInTheStoppedIds() {
        assumeTrue(run.checkBoolean("probeEnabled"), "the probe was not enabled (no publishing side)");
        assertTrue(run.checkBoolean("lookupFindsTheThread"), run.describe());
        assertEquals(0, run.checkLong("lookupOfAnUnknownName"), run.describe());
        assertTrue(run.checkBoolean("allEndedThreadsReported"), run.describe());
        assertTrue(run.checkBoolean("stoppedIdsWellFormed"), run.describe());
        assertEquals("null", run.check("secondCallAfterDraining"), run.describe());
    }
}
