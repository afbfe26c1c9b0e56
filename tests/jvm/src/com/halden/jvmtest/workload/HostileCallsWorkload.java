package com.halden.jvmtest.workload;

import static com.halden.jvmtest.support.Checks.report;

import com.halden.probe.Launcher;
import com.halden.probe.ProbeUtils;
import com.halden.probe.ThreadManager;
import com.halden.probe.log.ProbeLogger;
import java.io.File;
import java.lang.reflect.InvocationTargetException;
import java.lang.reflect.Method;
import java.lang.reflect.Modifier;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.Map;
import java.util.Set;
import java.util.concurrent.ConcurrentHashMap;
import java.util.concurrent.atomic.AtomicInteger;
import java.util.jar.JarFile;

/**
 * Calls every native of the agent jar with hostile arguments: before the
 * probe starts, while it runs (also from 8 threads at once) and after its
 * shutdown. A call gets plain values but in one position, which takes each
 * hostile value of its type in turn. A call that throws (an exception left
 * pending by the native) is a failure; one that does not return within 30 s
 * ends the JVM with exit code 97.
 */
public final class HostileCallsWorkload implements Launcher.Workload {
    /** The lifecycle the launcher runs, and the process's end. */
    static final Set<String> NOT_CALLED = Set.of("ProbeUtils.customServiceStart",
            "ProbeUtils.customServiceShutDown", "ProbeController.startNativeProbe",
            "ProbeController.stopNativeProbe", "ProbeSystem.initializeProbe", "ProbeSystem.stopNative");
    static final String HUGE = "x".repeat(1 << 20);
    static final String RUNTIME = "com.halden.probe.l3trace.BcmRuntime";

    /** A class without natives or fields. */
    static final class Target {}

    private final List<Method> natives = new ArrayList<>();
    private final Map<Thread, Long> since = new ConcurrentHashMap<>();
    private final Map<Thread, String> calling = new ConcurrentHashMap<>();
    private final AtomicInteger calls = new AtomicInteger(), failures = new AtomicInteger();
    private int endedThreadId;

    /** The plain value of a parameter, then its hostile values. */
    private Object[] values(String name, Class<?> type) {
        if (type == String.class) return new Object[] {"x", null, "", HUGE, "\u0000", "a\u0000b", "\uD800", "b\uDC00", RUNTIME};
        // Agent ids: none of the launcher's agents. Paging: its wait is bounded at a minute.
        if (type == int.class && name.matches("\\w+Agent\\.st\\w+Thread")) return new Object[] {-1, Integer.MIN_VALUE, Integer.MAX_VALUE};
        if (type == int.class && name.endsWith("getPagingRate")) return new Object[] {0, -1, Integer.MIN_VALUE, 999};
        if (type == int.class) return new Object[] {1, 0, -1, Integer.MIN_VALUE, Integer.MAX_VALUE, endedThreadId};
        if (type == long.class) return new Object[] {1L, 0L, -1L, Long.MIN_VALUE, Long.MAX_VALUE};
        if (type == byte.class) return new Object[] {(byte) 1, (byte) 0, (byte) -1, Byte.MIN_VALUE, Byte.MAX_VALUE};
        if (type == boolean.class) return new Object[] {true, false};
        if (type == Class.class) return new Object[] {Target.class, null, int.class, void.class, int[].class, String[][].class, String.class};
        if (type == int[].class) return new Object[] {new int[] {1, 2}, null, new int[0], new int[] {Integer.MIN_VALUE}};
        if (type == long[].class) return new Object[] {new long[] {1, 2}, null, new long[0], new long[] {Long.MIN_VALUE}};
        if (type == byte[].class) return new Object[] {new byte[] {1, 2}, null, new byte[0], new byte[1 << 20]};
        if (type == String[].class) return new Object[] {new String[] {"x"}, null, new String[0], new String[] {null}, new String[] {HUGE, "\uD800"}};
        if (type == StringBuffer.class) return new Object[] {new StringBuffer(), null};
        return new Object[] {null};  // a ThreadDumpInfo would have a real dump written
    }

    static String nameOf(Method m) { return m.getDeclaringClass().getSimpleName() + "." + m.getName(); }

    private void call(String phase, Method m, Object target, Object[] args) {
        Thread self = Thread.currentThread();
        calling.put(self, phase + " " + nameOf(m));
        since.put(self, System.currentTimeMillis());
        try {
            m.invoke(target, args);
        } catch (InvocationTargetException | IllegalAccessException | IllegalArgumentException e) {
            String shown = Arrays.deepToString(args);
            System.out.println("[hostile] FAIL " + phase + " " + nameOf(m) + " "
                    + (shown.length() > 300 ? shown.substring(0, 300) : shown) + ": "
                    + (e instanceof InvocationTargetException ? e.getCause() : e));
            failures.incrementAndGet();
        } finally {
            since.remove(self);
            calls.incrementAndGet();
        }
    }

    /** Every native with plain arguments, then each hostile value in each position. */
    private void round(String phase) throws Exception {
        Object perf = Class.forName("com.halden.command.monitoring.PerfSummaryImpl").getDeclaredConstructor().newInstance();
        for (Method m : natives) {
            Class<?>[] types = m.getParameterTypes();
            Object[][] choices = new Object[types.length][];
            Object[] plain = new Object[types.length];
            for (int i = 0; i < types.length; i++) plain[i] = (choices[i] = values(nameOf(m), types[i]))[0];
            // A runtime class's name: its natives are tried on every class given.
            if (nameOf(m).equals("BcmBootstrap.defineNativeMethodsForClassNative")) plain[1] = RUNTIME;
            Object target = Modifier.isStatic(m.getModifiers()) ? null : perf;
            call(phase, m, target, plain.clone());
            for (int i = 0; i < types.length; i++) {
                for (int k = 1; k < choices[i].length; k++) {
                    Object[] args = plain.clone();
                    args[i] = choices[i][k];
                    call(phase, m, target, args);
                }
            }
        }
        ProbeLogger.setNativeProbeLoggingLevel(0);
    }

    private void phase(String phase, int threads) throws Exception {
        Thread ended = new Thread(() -> endedThreadId = ThreadManager.getEnv());
        ended.start();
        ended.join();
        round(phase);
        List<Thread> started = new ArrayList<>();
        for (int t = 0; t < threads; t++) {
            started.add(new Thread(() -> {
                try {
                    round(phase + "-threads");
                } catch (Exception e) {
                    System.out.println("[hostile] FAIL " + e);
                    failures.incrementAndGet();
                }
            }));
            started.get(t).start();
        }
        for (Thread t : started) t.join();
        report("calls." + phase, calls.getAndSet(0));
        report("failures." + phase, failures.getAndSet(0));
    }

    @Override
    public void initialized() throws Exception {
        File jar = new File(ProbeUtils.class.getProtectionDomain().getCodeSource().getLocation().toURI());
        try (JarFile file = new JarFile(jar)) {
            for (String entry : file.stream().map(e -> e.getName()).toList()) {
                if (!entry.endsWith(".class") || entry.contains("-")) continue;
                try {
                    Class<?> c = Class.forName(entry.substring(0, entry.length() - 6).replace('/', '.'), false,
                            ProbeUtils.class.getClassLoader());
                    for (Method m : c.getDeclaredMethods()) {
                        if (Modifier.isNative(m.getModifiers()) && !NOT_CALLED.contains(nameOf(m))) {
                            m.setAccessible(true);
                            natives.add(m);
                        }
                    }
                } catch (LinkageError skipped) {
                    // a class of a library the agent jar relocates
                }
            }
        }
        report("natives", natives.size());
        Thread watchdog = new Thread(() -> {
            for (;; sleep()) {
                since.forEach((thread, start) -> {
                    if (System.currentTimeMillis() - start < 30000) return;
                    System.out.println("[hostile] HANG in " + calling.get(thread));
                    Runtime.getRuntime().halt(97);
                });
            }
        });
        watchdog.setDaemon(true);
        watchdog.start();
        phase("before", 0);
    }

    static void sleep() {
        try {
            Thread.sleep(200);
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
        }
    }

    @Override
    public void run() throws Exception { phase("running", 8); }

    @Override
    public void shutDown() throws Exception { phase("after", 0); }
}
