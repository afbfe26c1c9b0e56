package com.halden.jvmtest.workload;

import static com.halden.jvmtest.support.Checks.report;

import com.halden.probe.Launcher;
import com.halden.probe.ProbeUtils;
import com.halden.probe.ThreadManager;
import com.halden.probe.log.ProbeLogger;
import java.io.File;
import java.lang.reflect.Method;
import java.lang.reflect.Modifier;
import java.util.ArrayList;
import java.util.Enumeration;
import java.util.List;
import java.util.Map;
import java.util.Set;
import java.util.concurrent.ConcurrentHashMap;
import java.util.concurrent.atomic.AtomicInteger;
import java.util.jar.JarEntry;
import java.util.jar.JarFile;

/**
 * Calls every native of the agent jar with hostile arguments: before the
 * probe starts, while it runs (also from 8 threads at once) and after its
 * shutdown. Each call runs with every argument at a plain value but one,
 * which takes each hostile value of its type in turn. A call that throws
 * (a Java exception left pending by the native) is reported as a failure; a
 * call that does not return within a bound ends the JVM with exit code 97.
 */
public final class HostileCallsWorkload implements Launcher.Workload {
    /** Natives of the lifecycle the launcher runs, or that end the process. */
    static final Set<String> NOT_CALLED = Set.of("ProbeUtils.customServiceStart",
            "ProbeUtils.customServiceShutDown", "ProbeController.startNativeProbe",
            "ProbeController.stopNativeProbe", "ProbeSystem.initializeProbe",
            "ProbeSystem.stopNative");
    /** Natives whose id selects an agent thread of the launcher: ids of no agent only. */
    static final Set<String> AGENT_IDS = Set.of("EventAgent.startThread", "EventAgent.stopThread",
            "NetworkAgent.startThread", "NetworkAgent.stopThread");
    static final long CALL_BOUND_MILLIS = 30000;
    static final String HUGE = "x".repeat(1 << 20);

    private final List<Method> natives = new ArrayList<>();
    private final Map<Thread, String> calling = new ConcurrentHashMap<>();
    private final Map<Thread, Long> since = new ConcurrentHashMap<>();
    private final AtomicInteger calls = new AtomicInteger();
    private final List<String> failures = new ArrayList<>();
    private int endedThreadId;

    /** The plain value of a parameter type, then its hostile values. */
    private Object[] values(String nativeName, Class<?> type) {
        if (type == String.class) {
            return new Object[] {"x", null, "", HUGE, "\u0000", "a\u0000b", "\uD800", "b\uDC00",
                    "com.halden.probe.l3trace.BcmRuntime"};
        }
        if (type == int.class) {
            if (AGENT_IDS.contains(nativeName)) return new Object[] {-1, Integer.MIN_VALUE, Integer.MAX_VALUE};
            // getPagingRate waits for its interval: its bound is the unit tests'.
            if (nativeName.equals("PerfSummaryImpl.getPagingRate")) return new Object[] {0, -1, Integer.MIN_VALUE, 999};
            return new Object[] {1, 0, -1, Integer.MIN_VALUE, Integer.MAX_VALUE, endedThreadId};
        }
        if (type == long.class) return new Object[] {1L, 0L, -1L, Long.MIN_VALUE, Long.MAX_VALUE};
        if (type == byte.class) return new Object[] {(byte) 1, (byte) 0, (byte) -1, Byte.MIN_VALUE, Byte.MAX_VALUE};
        if (type == boolean.class) return new Object[] {true, false};
        if (type == Class.class) {
            return new Object[] {Target.class, null, int.class, void.class, int[].class,
                    String[][].class, String.class};
        }
        if (type == int[].class) return new Object[] {new int[] {1, 2}, null, new int[0], new int[] {Integer.MIN_VALUE, -1}};
        if (type == long[].class) return new Object[] {new long[] {1, 2}, null, new long[0], new long[] {Long.MIN_VALUE}};
        if (type == byte[].class) return new Object[] {new byte[] {1, 2}, null, new byte[0], new byte[1 << 20]};
        if (type == String[].class) {
            return new Object[] {new String[] {"x"}, null, new String[0], new String[] {null},
                    new String[] {HUGE, "\u0000", "\uD800"}};
        }
        if (type == StringBuffer.class) return new Object[] {new StringBuffer(), null};
        return new Object[] {null};  // a ThreadDumpInfo would write a real thread dump
    }

    /** A class with no natives and no fields, given where a class is taken. */
    static final class Target {}

    private void findNatives() throws Exception {
        File jar = new File(ProbeUtils.class.getProtectionDomain().getCodeSource().getLocation().toURI());
        try (JarFile file = new JarFile(jar)) {
            for (Enumeration<JarEntry> e = file.entries(); e.hasMoreElements();) {
                String name = e.nextElement().getName();
                if (!name.endsWith(".class") || name.contains("-")) continue;
                Class<?> c;
                try {
                    c = Class.forName(name.substring(0, name.length() - 6).replace('/', '.'), false,
                            ProbeUtils.class.getClassLoader());
                    for (Method m : c.getDeclaredMethods()) {
                        if (Modifier.isNative(m.getModifiers())
                                && !NOT_CALLED.contains(shortName(m))) {
                            m.setAccessible(true);
                            natives.add(m);
                        }
                    }
                } catch (LinkageError | RuntimeException skipped) {
                    // a class the agent jar carries for a library it relocates
                }
            }
        }
        report("natives", natives.size());
    }

    static String shortName(Method m) {
        return m.getDeclaringClass().getSimpleName() + "." + m.getName();
    }

    private void watchdog() {
        Thread watch = new Thread(() -> {
            for (;;) {
                long now = System.currentTimeMillis();
                since.forEach((thread, start) -> {
                    if (now - start > CALL_BOUND_MILLIS) {
                        System.out.println("[hostile] HANG in " + calling.get(thread));
                        System.out.flush();
                        Runtime.getRuntime().halt(97);
                    }
                });
                try {
                    Thread.sleep(200);
                } catch (InterruptedException e) {
                    return;
                }
            }
        }, "hostile-watchdog");
        watch.setDaemon(true);
        watch.start();
    }

    private void call(String phase, Method m, Object target, Object[] args) {
        String described = phase + " " + shortName(m) + describe(args);
        Thread self = Thread.currentThread();
        calling.put(self, described);
        since.put(self, System.currentTimeMillis());
        try {
            m.invoke(target, args);
        } catch (java.lang.reflect.InvocationTargetException e) {
            fail(described + " threw " + e.getCause());
        } catch (ReflectiveOperationException | RuntimeException e) {
            fail(described + " could not be called: " + e);
        } finally {
            since.remove(self);
            calls.incrementAndGet();
        }
    }

    private synchronized void fail(String text) {
        failures.add(text);
        System.out.println("[hostile] FAIL " + text);
    }

    static String describe(Object[] args) {
        StringBuilder out = new StringBuilder("(");
        for (Object a : args) {
            String text = a instanceof int[] ? "int[" + ((int[]) a).length + "]"
                    : a instanceof byte[] ? "byte[" + ((byte[]) a).length + "]"
                    : a instanceof long[] ? "long[" + ((long[]) a).length + "]"
                    : a instanceof Object[] ? a.getClass().getSimpleName().replace("[]", "[" + ((Object[]) a).length + "]")
                    : String.valueOf(a);
            if (text.length() > 40) text = text.substring(0, 20) + "...(" + text.length() + ")";
            out.append(out.length() > 1 ? ", " : "").append(text.replace("\u0000", "\\0"));
        }
        return out.append(")").toString();
    }

    /** Every native, with plain arguments and then each hostile value in each position. */
    private void round(String phase) throws Exception {
        Object perf = Class.forName("com.halden.command.monitoring.PerfSummaryImpl")
                .getDeclaredConstructor().newInstance();
        for (Method m : natives) {
            Object target = Modifier.isStatic(m.getModifiers()) ? null : perf;
            Class<?>[] types = m.getParameterTypes();
            Object[][] choices = new Object[types.length][];
            Object[] plain = new Object[types.length];
            for (int i = 0; i < types.length; i++) {
                choices[i] = values(shortName(m), types[i]);
                plain[i] = choices[i][0];
            }
            if (shortName(m).equals("BcmBootstrap.defineNativeMethodsForClassNative")) {
                // A known runtime class name: the registration is tried on each class given.
                plain[1] = "com.halden.probe.l3trace.BcmRuntime";
            }
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

    private void measureEndedThread() throws InterruptedException {
        int[] id = {0};
        Thread t = new Thread(() -> id[0] = ThreadManager.getEnv(), "hostile-ended");
        t.start();
        t.join();
        endedThreadId = id[0];
    }

    private void finishPhase(String phase) {
        report("calls." + phase, calls.getAndSet(0));
        report("failures." + phase, failures.size());
        failures.clear();
    }

    @Override
    public void initialized() throws Exception {
        findNatives();
        watchdog();
        measureEndedThread();
        round("before");
        finishPhase("before");
    }

    @Override
    public void run() throws Exception {
        measureEndedThread();
        round("running");
        List<Thread> threads = new ArrayList<>();
        List<Throwable> errors = new ArrayList<>();
        for (int t = 0; t < 8; t++) {
            Thread thread = new Thread(() -> {
                try {
                    round("running-threads");
                } catch (Throwable e) {
                    synchronized (errors) {
                        errors.add(e);
                    }
                }
            }, "hostile-" + t);
            threads.add(thread);
            thread.start();
        }
        for (Thread thread : threads) thread.join();
        for (Throwable e : errors) fail("running-threads round: " + e);
        finishPhase("running");
    }

    @Override
    public void shutDown() throws Exception {
        measureEndedThread();
        round("after");
        finishPhase("after");
    }
}
