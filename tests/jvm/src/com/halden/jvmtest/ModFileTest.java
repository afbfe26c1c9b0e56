package com.halden.jvmtest;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.halden.jvmtest.support.ChildJvm;
import com.halden.jvmtest.support.RunResult;
import com.halden.jvmtest.support.TempHome;
import com.halden.jvmtest.workload.QuickProbe;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.CsvSource;

/**
 * An existing MOD file sets the monitoring level while the library loads;
 * what it cannot supply leaves level 2. Each case is a short child JVM that
 * only loads the library.
 */
class ModFileTest {
    static final class Outcome {
        final RunResult run;
        final String log;
        final String modFile;

        Outcome(RunResult run, String log, String modFile) {
            this.run = run;
            this.log = log;
            this.modFile = modFile;
        }
    }

    static Outcome load(String modFileContent, String properties) throws Exception {
        try (TempHome home = TempHome.create()) {
            home.writeModFile(ChildJvm.NODE, ChildJvm.SERVER, modFileContent);
            if (properties != null) home.writeProperties(properties);
            RunResult run = ChildJvm.in(home).main(QuickProbe.class).run();
            assertEquals(0, run.exitCode(), run.describe());
            return new Outcome(run, TempHome.read(home.onlyLogFile()),
                    TempHome.read(home.modFile(ChildJvm.NODE, ChildJvm.SERVER)));
        }
    }

    @ParameterizedTest(name = "MOD file \"{0}\" gives level {1}")
    @CsvSource(delimiter = '|', value = {
        "1|1", "2|2", "3|3", "' 1\n'|1", "7|2", "0|2", "-3|2", "1003|3", "''|2", "abc|2",
    })
    void anExistingModFileSetsTheLevel(String content, int level) throws Exception {
        Outcome outcome = load(content, null);
        assertEquals(String.valueOf(1000 + level), outcome.run.check("level"),
                outcome.run.describe());
        assertTrue(outcome.log.contains("INFO: Using probe level " + level + "\n"), outcome.log);
        assertEquals(content, outcome.modFile, "the MOD file was rewritten");
    }

    @Test
    void anOutOfRangeLevelIsRejectedWithAnErrorLine() throws Exception {
        Outcome outcome = load("7", null);
        assertTrue(outcome.log.contains(
                "##ERROR: Incorrect MOD level given (7) rejecting, current MOD level 2"),
                outcome.log);
    }

    @Test
    void aChangeToLevelOneIsLogged() throws Exception {
        Outcome outcome = load("1", null);
        assertTrue(outcome.log.contains("INFO: Native MOD level changed from (2) to (1)"),
                outcome.log);
    }

    @Test
    void levelThreeRunsTheL3Switch() throws Exception {
        Outcome outcome = load("3", null);
        assertTrue(outcome.log.contains("INFO: L3 is handled in Java now ..."), outcome.log);
        Outcome disabled = load("3", "internal.disableL3=yes\n");
        assertTrue(disabled.log.contains(
                "INFO: L3 disabled, not enabling/disabling method events"), disabled.log);
    }
}
