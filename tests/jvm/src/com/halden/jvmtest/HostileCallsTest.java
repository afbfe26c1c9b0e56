package com.halden.jvmtest;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.halden.jvmtest.support.ChildJvm;
import com.halden.jvmtest.support.RunResult;
import com.halden.jvmtest.support.TempHome;
import com.halden.jvmtest.workload.HostileCallsWorkload;
import org.junit.jupiter.api.AfterAll;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.TestInstance;

/**
 * One child JVM under -Xcheck:jni calls every native of the agent jar with
 * hostile arguments before the probe starts, while it runs (also from 8
 * threads at once) and after its shutdown (HostileCallsWorkload). Nothing a
 * caller passes may crash, hang or abort the JVM, draw a JNI warning, leave a
 * Java exception to the caller, or flood the output.
 */
@TestInstance(TestInstance.Lifecycle.PER_CLASS)
class HostileCallsTest {
    TempHome home;
    RunResult run;
    String output;
    String log;

    @BeforeAll
    void callEverything() throws Exception {
        home = TempHome.create();
        run = ChildJvm.in(home).jvmArgs("-Xcheck:jni").launcher(HostileCallsWorkload.class).run();
        output = run.stdout() + run.stderr();
        log = TempHome.read(home.onlyLogFile());
    }

    @AfterAll
    void removeHome() {
        if (home != null) home.close();
    }

    /** The run's outputs, cut for an assertion message. */
    String shown() {
        String all = run.describe();
        return all.length() < 20000 ? all : all.substring(0, 10000) + "\n...\n" + all.substring(all.length() - 10000);
    }

    @Test
    void noCallCrashesHangsOrLeavesAnException() {
        // 97: a call did not return in time; a crash or abort ends with a signal's code.
        assertEquals(0, run.exitCode(), shown());
        assertTrue(run.checkLong("natives") >= 100, shown());
        for (String phase : new String[] {"before", "running", "after"}) {
            assertTrue(run.checkLong("calls." + phase) > 0, phase);
            assertEquals(0, run.checkLong("failures." + phase), phase + "\n" + shown());
        }
    }

    @Test
    void checkJniStaysSilent() {
        assertFalse(output.contains("WARNING in native method"), shown());
        assertFalse(output.contains("FATAL ERROR in native method"), shown());
    }

    @Test
    void primitiveAndArrayClassesGetNoNatives() {
        assertTrue(log.contains("Native methods registration for class "
                + "com.halden.probe.l3trace.BcmRuntime failed."), log.substring(0, Math.min(log.length(), 5000)));
        assertFalse(log.contains("Successfully registered native methods"));
    }

    @Test
    void answersAreNotReportedAsFailuresAndEchoesAreCut() {
        // A hook asked for a field its class lacks answers null without a stack trace.
        assertFalse(output.contains("NoSuchFieldError"), shown());
        // Hundreds of calls pass 1 MB texts: none may be echoed whole.
        assertTrue(output.length() + log.length() < (8 << 20),
                "output " + output.length() + " and log " + log.length() + " bytes");
    }
}
