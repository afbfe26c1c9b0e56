package com.halden.jvmtest;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.halden.jvmtest.support.ChildJvm;
import com.halden.jvmtest.support.RunResult;
import com.halden.jvmtest.support.TempHome;
import com.halden.jvmtest.workload.LifecycleChecks;
import com.halden.jvmtest.workload.QuickProbe;
import java.util.regex.Matcher;
import org.junit.jupiter.api.Test;

/** The ways of loading the library, and what loading makes of odd input. */
class LoadingTest {
    @Test
    void theWholeLifecycleRunsWithXrun() throws Exception {
        try (TempHome home = TempHome.create()) {
            RunResult run = ChildJvm.in(home).loading(ChildJvm.Loading.XRUN)
                    .launcher(LifecycleChecks.class).run();
            assertEquals(0, run.exitCode(), run.describe());
            String output = run.stdout() + run.stderr();
            assertFalse(output.contains("JVMPI, an experimental interface"),
                    "the JVM was asked for the profiler interface:\n" + run.describe());
            assertFalse(output.contains("Error occurred during initialization of VM"),
                    run.describe());
            assertTrue(run.hasStdoutLine("[launcher] customServiceStart: true"), run.describe());
            assertTrue(run.hasStdoutLine("## Tracer Mode: Default State: false "), run.describe());
            assertEquals("true", run.check("jvmpiEnabled"));
            assertEquals("1002", run.check("levelBeforeStart"));
            assertEquals(run.check("javaPid"), run.check("processId"));
            assertEquals(home.onlyLogFile().toString(), run.check("logFileName"));
            Matcher m = run.findInStdout("^\\[launcher\\] stopNativeProbe returned after (\\d+) ms$");
            assertTrue(Long.parseLong(m.group(1)) >= 10000, m.group());
            assertEquals("0", run.check("threadsInNativeLoops"),
                    run.check("threadsInNativeLoopsList"));
            assertEquals("2", TempHome.read(home.modFile(ChildJvm.NODE, ChildJvm.SERVER)));
        }
    }

    @Test
    void theDebugOptionIsAccepted() throws Exception {
        try (TempHome home = TempHome.create()) {
            RunResult run = ChildJvm.in(home).agentOptions("debug=on,more").main(QuickProbe.class)
                    .run();
            assertEquals(0, run.exitCode(), run.describe());
            assertEquals("true", run.check("jvmpiEnabled"));
            assertEquals("false", run.check("enabled"));
        }
    }

    @Test
    void identityValuesOf2000CharactersAreCut() throws Exception {
        String node = "a".repeat(2000);
        String server = "c".repeat(2000);
        String profile = "b".repeat(2000);
        try (TempHome home = TempHome.create()) {
            RunResult run = ChildJvm.in(home).property("hm.nodename", node)
                    .property("hm.appserver", server).property("hm.profilename", profile)
                    .main(QuickProbe.class).run();
            assertEquals(0, run.exitCode(), run.describe());
            String cut = "a".repeat(255) + "." + "c".repeat(255) + "(" + "b".repeat(255) + ")";
            Matcher log = run.findInStderr("^\\[HM\\]: Using log file: (.*) $");
            assertTrue(log.group(1).startsWith(home.logs() + "/" + cut + "."), log.group(1));
            Matcher mod = run.findInStdout("using modfile: '(.*)'$");
            assertEquals(home.etc() + "/" + cut + ".hm.mod", mod.group(1));
        }
    }
}
