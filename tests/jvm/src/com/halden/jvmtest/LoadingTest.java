package com.halden.jvmtest;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.halden.jvmtest.support.ChildJvm;
import com.halden.jvmtest.support.RunResult;
import com.halden.jvmtest.support.TempHome;
import com.halden.jvmtest.workload.QuickProbe;
import java.nio.file.Path;
import java.util.regex.Matcher;
import org.junit.jupiter.api.Test;

/**
 * What loading makes of a MOD file, agent options and odd identity values
 * (-Xrun loading is checked by LifecycleTest, MOD file parsing by the unit
 * tests).
 */
class LoadingTest {
    @Test
    void anExistingModFileAndTheDebugOptionAreTakenWhileLoading() throws Exception {
        try (TempHome home = TempHome.create()) {
            Path mod = home.modFile(ChildJvm.NODE, ChildJvm.SERVER);
            home.write(mod, "3");
            RunResult run = ChildJvm.in(home).agentOptions("debug=on,more")
                    .main(QuickProbe.class.getName()).run();
            assertEquals(0, run.exitCode(), run.describe());
            assertEquals("true,false,1003", run.checks("jvmpiEnabled", "enabled", "level"));
            String log = TempHome.read(home.onlyLogFile());
            for (String line : new String[] {"INFO: Native MOD level changed from (2) to (3)",
                    "INFO: L3 is handled in Java now ...", "INFO: Using probe level 3\n"}) {
                assertTrue(log.contains(line), log);
            }
            assertEquals("3", TempHome.read(mod));
        }
    }

    @Test
    void identityValuesOf2000CharactersAreCut() throws Exception {
        try (TempHome home = TempHome.create()) {
            RunResult run = ChildJvm.in(home).property("hm.nodename", "a".repeat(2000))
                    .property("hm.appserver", "c".repeat(2000))
                    .property("hm.profilename", "b".repeat(2000))
                    .main(QuickProbe.class.getName()).run();
            assertEquals(0, run.exitCode(), run.describe());
            String cut = "a".repeat(255) + "." + "c".repeat(255) + "(" + "b".repeat(255) + ")";
            Matcher log = run.findInStderr("^\\[HM\\]: Using log file: (.*) $");
            assertTrue(log.group(1).startsWith(home.logs() + "/" + cut + "."), log.group(1));
            Matcher mod = run.findInStdout("using modfile: '(.*)'$");
            assertEquals(home.etc() + "/" + cut + ".hm.mod", mod.group(1));
        }
    }
}
