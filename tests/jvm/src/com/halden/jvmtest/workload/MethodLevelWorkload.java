package com.halden.jvmtest.workload;

import com.halden.bcm.bootstrap.BcmBootstrap;
import com.halden.command.MethodLevelModule;
import com.halden.probe.Launcher;
import com.halden.probe.l3trace.BcmRuntime;

/**
 * Method-level tracing from Java, run by the launcher: registers the BcmRuntime
 * natives through the bootstrap native, reports two classes (one of them
 * unloaded again), method entries and exits through both entry points, then
 * keeps recording method 103 so that the test can replace the collector. Lines: "[ml] registered",
 * "[ml] appendL3Event true|false", "[ml] reported", "[ml] idle", "[ml] done".
 */
public final class MethodLevelWorkload implements Launcher.Workload {
    @Override
    public void run() throws Exception {
        BcmBootstrap.defineNativeMethodsForClassNative(BcmRuntime.class,
                "com.halden.probe.l3trace.BcmRuntime");
        say("registered");
        MethodLevelModule.initializeClass("app/Shop", new int[] {101, 102},
                new String[] {"buy", "sell"}, new String[] {"()V", "(I)V"});
        MethodLevelModule.initializeClass("app/Gone", new int[] {201}, new String[] {"run"},
                new String[] {"()V"});
        MethodLevelModule.unloadClass("app/Gone");
        MethodLevelModule.beforeMethod(101);
        MethodLevelModule.afterMethod(101);
        say("appendL3Event " + BcmRuntime.appendL3Event((byte) 0, 102));
        BcmRuntime.appendL3Event((byte) 1, 102);
        say("reported");
        Thread.sleep(Long.getLong("ml.first", 2500));
        // Method records keep flowing, so that the probe notices a lost
        // collector when it writes.
        say("idle");
        long end = System.currentTimeMillis() + Long.getLong("ml.second", 5000);
        while (System.currentTimeMillis() < end) {
            MethodLevelModule.beforeMethod(103);
            MethodLevelModule.afterMethod(103);
            Thread.sleep(100);
        }
        say("done");
    }

    private static void say(String text) {
        System.out.println("[ml] " + text);
        System.out.flush();
    }
}
