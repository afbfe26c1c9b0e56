package com.halden.jvmtest;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.halden.jvmtest.support.ChildJvm;
import com.halden.jvmtest.support.Psdump;
import com.halden.jvmtest.support.RunResult;
import com.halden.jvmtest.support.TempHome;
import com.halden.jvmtest.workload.HeapLockWorkload;
import java.util.ArrayList;
import java.util.List;
import org.junit.jupiter.api.AfterAll;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.TestInstance;

/**
 * One child JVM with psdump as the collector (HeapLockWorkload): a heap
 * snapshot from the JVMTI heap walk, and lock and heap-allocation records
 * made inside a request.
 */
@TestInstance(TestInstance.Lifecycle.PER_CLASS)
class HeapLockTest {
    TempHome home;
    RunResult run;
    final List<String> records = new ArrayList<>();

    @BeforeAll
    void runWorkload() throws Exception {
        home = TempHome.create();
        home.writeProperties("internal.probe.publishing.frequency=200\n"
                + "networkagent.publish.frequency=100\n");
        run = Psdump.runWith(ChildJvm.in(home).launcher(HeapLockWorkload.class).jvmArgs("-Xmx256m"),
                home.path().getParent(), home.path().getFileName() + "-ps", records);
    }

    @AfterAll
    void removeHome() {
        if (home != null) home.close();
    }

    @Test
    void theSnapshotCountsTheHeldInstances() {
        assertEquals(0, run.exitCode(), run.describe());
        assertTrue(run.checkBoolean("probeEnabled"), run.describe());
        assertEquals(0, run.checkLong("environment"), run.describe());
        assertEquals(0, run.checkLong("snapshot"), run.describe());
        String[] head = run.check("summaryHead").split(",");
        assertTrue(Long.parseLong(head[0]) > 0 && Long.parseLong(head[1]) >= 10000, run.describe());
        // name,bytes,percent,count,percent
        String[] held = run.check("heldLine").split(",");
        assertTrue(Long.parseLong(held[3]) >= 10000, run.describe());
        assertTrue(Long.parseLong(held[1]) >= 10000L * 16, run.describe());
        String tail = run.check("summaryTail");
        assertTrue(tail.startsWith("primitive[],") && tail.contains("|object[],"), tail);
    }

    @Test
    void lockRecordsCarryTheirDepthsInsideARequestOnly() {
        assertEquals("false", run.check("outsideRequest"), run.describe());
        assertEquals("false", run.check("unknownKind"), run.describe());
        assertTrue(run.checkBoolean("insideRequest"), run.describe());
        String all = String.join("\n", records);
        for (String name : new String[] {"lock1Begin", "lock1End", "lock2Begin", "lock2End",
                "lock3Begin", "lock3End", "heapAllocationBegin", "heapAllocationEnd"}) {
            List<String> found = Psdump.records(records, name);
            assertEquals(1, found.size(), name + "\n" + all);
            assertEquals(2, Psdump.number(found.get(0), "mod"), found.get(0));
        }
        String detail = Psdump.records(records, "lock2Begin").get(0);
        assertEquals("lockB", Psdump.field(detail, "lockName"), detail);
        assertEquals("waiter", Psdump.field(detail, "text2"), detail);
        assertEquals(42, Psdump.number(detail, "number"), detail);
        String allocation = Psdump.records(records, "heapAllocationBegin").get(0);
        assertEquals(22, Psdump.number(allocation, "number2"), all);
    }
}
