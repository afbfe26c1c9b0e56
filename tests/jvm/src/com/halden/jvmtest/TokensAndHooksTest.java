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
    static List<String> firstRecords;
    static List<String> secondRecords;
    static String firstCounter;

    static Path counterFile() {
        return home.etc().resolve(ChildJvm.NODE + "." + ChildJvm.SERVER + ".haldenGpsCounter.txt");
    }

    static RunResult run(String name, List<String> records) throws Exception {
        int port = Psdump.freePort();
        // Its output stays inside the home, which goes with it.
        Psdump collector = Psdump.listen(port, home.path(), "psdump-" + name);
        try {
            return ChildJvm.in(home).launcher(TokensWorkload.class)
                    .property("hm.ps.host", "127.0.0.1")
                    .property("hm.ps.port", Integer.toString(port)).run();
        } finally {
            // Closed first, so that every line it received is in its file.
            collector.close();
            records.addAll(collector.lines());
        }
    }

    @BeforeAll
    static void runTwice() throws Exception {
        home = TempHome.create();
        home.writeProperties("internal.probe.publishing.frequency=200\n"
                + "networkagent.publish.frequency=100\n");
        home.write(counterFile(), "5");
        firstRecords = new ArrayList<>();
        first = run("first", firstRecords);
        firstCounter = TempHome.read(counterFile());
        secondRecords = new ArrayList<>();
        second = run("second", secondRecords);
    }

    @AfterAll
    static void removeHome() {
        if (home != null) home.close();
    }

    static List<String> records(List<String> lines, String name) {
        List<String> found = new ArrayList<>();
        for (String line : lines) {
            if (line.contains("\"record\":\"" + name + "\"")) found.add(line);
        }
        return found;
    }

    static List<String> tokens(List<String> lines) {
        List<String> found = new ArrayList<>();
        for (String line : records(lines, "correlationBegin")) found.add(Psdump.field(line, "token"));
        return found;
    }

    @Test
    void invokesShareTheRequestsTokenAndTheCounterFileReservesACushion() {
        assertEquals(0, first.exitCode(), first.stdout() + first.stderr());
        assertEquals("a0000005", first.check("token1"));
        assertEquals("a0000005", first.check("token2"));
        assertEquals("00000000", first.check("tokenAfter"));
        assertEquals("a0000006", first.check("token3"));
        assertEquals(List.of("a0000005", "a0000005", "a0000006"), tokens(firstRecords),
                String.join("\n", firstRecords));
        assertTrue(first.stderr().contains("for gps token, got this token -1610612731 \n"),
                first.stderr());
        // The first invoke start reached the saved mark: one cushion reserved.
        assertEquals("205", firstCounter);
    }

    @Test
    void aSecondRunContinuesAboveEveryTokenOfTheFirst() {
        assertEquals(0, second.exitCode(), second.stdout() + second.stderr());
        assertEquals("a00000cd", second.check("token1"));
        assertEquals("a00000ce", second.check("token3"));
        assertEquals(List.of("a00000cd", "a00000cd", "a00000ce"), tokens(secondRecords));
        assertEquals("405", TempHome.read(counterFile()));
    }

    @Test
    void aReceivedTokenIsRecordedAndHandedBack() {
        assertEquals("5758595a", first.check("received"));
        List<String> receives = records(firstRecords, "correlationPoint5");
        assertEquals(1, receives.size(), String.join("\n", firstRecords));
        assertEquals("5758595a", Psdump.field(receives.get(0), "token"));
        assertEquals(1, records(firstRecords, "correlationPoint6").size());
    }

    @Test
    void portalPagesAndPortletsNest() {
        assertEquals(1L, first.checkLong("servletDepth"));
        String[] names = {"portalPageBegin", "portletBegin", "portletEnd", "portalPageEnd"};
        long[] depths = {1, 2, 2, 1};
        for (int i = 0; i < names.length; i++) {
            List<String> found = records(firstRecords, names[i]);
            assertEquals(1, found.size(), names[i]);
            assertEquals(depths[i], Psdump.number(found.get(0), "depth"), found.get(0));
        }
        assertEquals("pd", Psdump.field(records(firstRecords, "portalPageBegin").get(0), "detail"));
        assertEquals(1, records(firstRecords, "ejbEnd").size());
    }

    @Test
    void singlePortalRecordsCarryTheirFigures() {
        String login = records(firstRecords, "portalLogin").get(0);
        assertEquals(7, Psdump.number(login, "number"));
        assertEquals(1234567890123L, Psdump.number(login, "value"), login);
        String access = records(firstRecords, "portalAccessControl").get(0);
        assertEquals(4294967295L, Psdump.number(access, "number"), access);
        assertTrue(access.contains("\"value\":-2"), access);
        String vault = records(firstRecords, "credentialVault").get(0);
        assertEquals(5, Psdump.number(vault, "count5"), vault);
        assertEquals(55, Psdump.number(vault, "total5"));
        String content = records(firstRecords, "contentAccess").get(0);
        assertEquals(9, Psdump.number(content, "count4"), content);
        assertEquals(99, Psdump.number(content, "total4"));
        String[][] timings = {{"gatewayServlet", "34"}, {"modelBuilding", "35"},
            {"pageLoading", "36"}};
        for (String[] t : timings) {
            String line = records(firstRecords, t[0]).get(0);
            assertEquals(Long.parseLong(t[1]), Psdump.number(line, "number"), line);
            assertEquals(Long.parseLong(t[1]) * 10, Psdump.number(line, "value"));
        }
    }

    @Test
    void serverHooksReadStaticFieldsWithoutThrowing() {
        assertEquals("true", first.check("props5"));
        assertEquals("true", first.check("props6"));
        assertEquals("null", first.check("propsMissing"));
        assertEquals("null", first.check("propsNull"));
        assertEquals("true", first.check("dataSources"));
        assertEquals("null", first.check("dataSourcesMissing"));
        assertEquals("1", first.check("pfx"));
    }
}
