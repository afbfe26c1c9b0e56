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
 * hostile arguments (HostileCallsWorkload). Nothing a caller passes may
 * crash, hang or abort the JVM, draw a JNI warning, leave a Java exception to
 * the caller, or flood the output.
 */
@TestInstance(TestInstance.Lifecycle.PER_CLASS)
class HostileCallsTest {
    TempHome home;
    RunResult run;
    String output, log;

    @BeforeAll
    void callEverything() throws Exception {
        // A stack trace of a live thread (an ended thread's id may be reused)
        // waits for its thread dump file; the wait is configuration, not a hang.
        home = TempHome.create().writeProperties("internal.stacktrace.sleep=0\n");
        run = ChildJvm.in(home).jvmArgs("-Xcheck:jni").launcher(HostileCallsWorkload.class).run();
        output = run.stdout() + run.stderr();
        log = TempHome.read(home.onlyLogFile());
    }

    @AfterAll
    void removeHome() { if (home != null) home.close(); }

    String shown() {  // a flooded output is cut for the message
        String all = run.describe();
        return all.length() < 20000 ? all : all.substring(0, 10000) + "\n...\n" + all.substring(all.length() - 10000);
    }

    @Test
    void noCallCrashesHangsAbortsOrLeavesAnException() {
        assertEquals(0, run.exitCode(), shown());  // 97: a call hung; a crash or abort: 134
        assertTrue(run.checkLong("natives") >= 100, shown());
        for (String phase : new String[] {"before", "running", "after"}) {
            assertTrue(run.checkLong("calls." + phase) > 0, phase);
            assertEquals(0, run.checkLong("failures." + phase), phase + "\n" + shown());
        }
        assertFalse(output.contains("WARNING in native method"), shown());
        assertFalse(log.contains("Successfully registered native methods"), log);
    }

    @Test
    void answersAreNoFailuresAndEchoesAreCut() {
        // A hook asked for a field its class lacks answers null, without a stack trace.
        assertFalse(output.contains("NoSuchFieldError"), shown());
        // Hundreds of calls pass 1 MB texts: none may be echoed whole.
        assertTrue(output.length() + log.length() < (1 << 20), output.length() + " + " + log.length());
    }
}
