package com.halden.jvmtest;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.halden.jvmtest.support.ChildJvm;
import com.halden.jvmtest.support.Psdump;
import com.halden.jvmtest.support.RunResult;
import com.halden.jvmtest.support.TempHome;
import com.halden.jvmtest.workload.TokensWorkload;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import org.junit.jupiter.api.AfterAll;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;

/**
 * Correlation tokens and the application-server hooks in a real JVM, run
 * twice against one home: the counter file carries the token counter from
 * the first run into the second. psdump is the collector of both runs.
 */
class TokensAndHooksTest {
    static TempHome home;
    static RunResult first;
    static RunResult second;
    static String firstCounter;
    static final List<String> firstRecords = new ArrayList<>();
    static final List<String> secondRecords = new ArrayList<>();

    static Path counterFile() {
        return home.etc().resolve(ChildJvm.NODE + "." + ChildJvm.SERVER + ".haldenGpsCounter.txt");
    }

    static RunResult run(String name, List<String> records) throws Exception {
        // The collector's output stays inside the home, which goes with it.
        return Psdump.runWith(ChildJvm.in(home).launcher(TokensWorkload.class), home.path(),
                "psdump-" + name, records);
    }

    @BeforeAll
    static void runTwice() throws Exception {
        home = TempHome.create();
        home.writeProperties("internal.probe.publishing.frequency=200\n"
                + "networkagent.publish.frequency=100\n");
        home.write(counterFile(), "5");
        first = run("first", firstRecords);
        firstCounter = TempHome.read(counterFile());
        second = run("second", secondRecords);
    }

    @AfterAll
    static void removeHome() {
        if (home != null) home.close();
    }

    static List<String> tokens(List<String> lines, String record) {
        return Psdump.records(lines, record).stream().map(l -> Psdump.field(l, "token")).toList();
    }

    @Test
    void invokesShareTheRequestsTokenAndAReceiveKeepsTheOneItGot() {
        assertEquals(0, first.exitCode(), first.stdout() + first.stderr());
        assertEquals("a0000005", first.check("token1"));
        assertEquals("a0000005", first.check("token2"));
        assertEquals("00000000", first.check("tokenAfter"));
        assertEquals("a0000006", first.check("token3"));
        assertEquals(List.of("a0000005", "a0000005", "a0000006"),
                tokens(firstRecords, "correlationBegin"), String.join("\n", firstRecords));
        assertTrue(first.stderr().contains("for gps token, got this token -1610612731 \n"));
        assertEquals("5758595a", first.check("received"));
        assertEquals(List.of("5758595a"), tokens(firstRecords, "correlationPoint5"));
        assertEquals(1, Psdump.records(firstRecords, "correlationPoint6").size());
    }

    @Test
    void aSecondRunContinuesAboveEveryTokenOfTheFirst() {
        // The first invoke start reached the saved mark: one cushion reserved.
        assertEquals("205", firstCounter);
        assertEquals(0, second.exitCode(), second.stdout() + second.stderr());
        assertEquals(List.of("a00000cd", "a00000cd", "a00000ce"),
                tokens(secondRecords, "correlationBegin"));
        assertEquals("405", TempHome.read(counterFile()));
    }

    @Test
    void portalRecordsCarryTheirFigures() {
        assertEquals(1L, first.checkLong("servletDepth"));
        String login = Psdump.records(firstRecords, "portalLogin").get(0);
        assertEquals(1234567890123L, Psdump.number(login, "value"), login);
        String access = Psdump.records(firstRecords, "portalAccessControl").get(0);
        assertTrue(access.contains("\"number\":4294967295,\"value\":-2"), access);
        // Every slot of the pair records: pair i holds count n and total 11 n,
        // n counting on from the record's first count.
        for (Object[] t : new Object[][] {{"credentialVault", 5, 1}, {"contentAccess", 4, 6}}) {
            StringBuilder pairs = new StringBuilder();
            for (int i = 1, n = (int) t[2]; i <= (int) t[1]; i++, n++) {
                pairs.append(i > 1 ? "," : "").append("\"count").append(i).append("\":").append(n)
                        .append(",\"total").append(i).append("\":").append(11 * n);
            }
            String line = Psdump.records(firstRecords, (String) t[0]).get(0);
            assertTrue(line.contains(pairs), line);
        }
        for (String[] t : new String[][] {{"gatewayServlet", "34"}, {"modelBuilding", "35"},
                {"pageLoading", "36"}}) {
            String line = Psdump.records(firstRecords, t[0]).get(0);
            assertTrue(line.contains("\"number\":" + t[1] + ",\"value\":" + t[1] + "0"), line);
        }
    }

    @Test
    void serverHooksReadStaticFieldsWithoutThrowing() {
        assertEquals(1, Psdump.records(firstRecords, "ejbEnd").size());
        for (String check : new String[] {"props5", "props6", "dataSources"}) {
            assertEquals("true", first.check(check), check);
        }
        for (String check : new String[] {"propsMissing", "propsNull", "dataSourcesMissing"}) {
            assertEquals("null", first.check(check), check);
        }
        assertEquals("1", first.check("pfx"));
    }
}
