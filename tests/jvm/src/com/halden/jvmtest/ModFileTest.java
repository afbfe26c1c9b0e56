package com.halden.jvmtest;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.halden.jvmtest.support.ChildJvm;
import com.halden.jvmtest.support.RunResult;
import com.halden.jvmtest.support.TempHome;
import com.halden.jvmtest.workload.QuickProbe;
import org.junit.jupiter.api.Test;

/**
 * An existing MOD file sets the monitoring level while the library loads in a
 * real JVM (the parsing of its content is checked by the unit tests).
 */
class ModFileTest {
    @Test
    void anExistingModFileSetsTheLevelTheJavaSideSees() throws Exception {
        try (TempHome home = TempHome.create()) {
            home.writeModFile(ChildJvm.NODE, ChildJvm.SERVER, "3");
            RunResult run = ChildJvm.in(home).main(QuickProbe.class).run();
            assertEquals(0, run.exitCode(), run.describe());
            assertEquals("1003", run.check("level"), run.describe());
            String log = TempHome.read(home.onlyLogFile());
            assertTrue(log.contains("INFO: Native MOD level changed from (2) to (3)"), log);
            assertTrue(log.contains("INFO: L3 is handled in Java now ..."), log);
            assertTrue(log.contains("INFO: Using probe level 3\n"), log);
            assertEquals("3", TempHome.read(home.modFile(ChildJvm.NODE, ChildJvm.SERVER)));
        }
    }
}
