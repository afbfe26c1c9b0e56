package com.halden.agent.weave;

import com.halden.agent.asm.ClassReader;
import com.halden.agent.asm.Opcodes;
import java.io.IOException;
import java.io.InputStream;
import java.util.ArrayDeque;
import java.util.Collections;
import java.util.HashSet;
import java.util.Map;
import java.util.Set;
import java.util.WeakHashMap;
import java.util.concurrent.ConcurrentHashMap;

/**
 * Superclasses and interfaces of classes as their class files state them,
 * read through the class loader's resources: no class is loaded (and so none
 * in the wrong loader, nor one that is being defined right now). Answers are
 * kept per loader for as long as the loader lives.
 */
final class ClassHierarchy {
    /** A class's header. */
    static final class Info {
        final String superName;
        final String[] interfaces;
        final boolean isInterface;

        Info(String superName, String[] interfaces, boolean isInterface) {
            this.superName = superName;
            this.interfaces = interfaces;
            this.isInterface = isInterface;
        }
    }

    private static final Info MISSING = new Info(null, new String[0], false);
    /** Bounds the walk over a broken or cyclic hierarchy. */
    private static final int MAX_STEPS = 500;

    private final Map<ClassLoader, Map<String, Info>> byLoader =
            Collections.synchronizedMap(new WeakHashMap<>());

    /** The header of the named class (internal name) as the loader sees it, or null. */
    Info info(ClassLoader loader, String name) {
        Map<String, Info> known = byLoader.computeIfAbsent(loader, l -> new ConcurrentHashMap<>());
        Info info = known.get(name);
        if (info == null) {
            byte[] bytes = classBytes(loader, name);
            if (bytes == null) {
                info = MISSING;
            } else {
                ClassReader reader = new ClassReader(bytes);
                info = new Info(reader.getSuperName(), reader.getInterfaces(),
                        (reader.getAccess() & Opcodes.ACC_INTERFACE) != 0);
            }
            known.put(name, info);
        }
        return info == MISSING ? null : info;
    }

    /** The class file of the named class, or null. */
    static byte[] classBytes(ClassLoader loader, String name) {
        ClassLoader from = loader != null ? loader : ClassLoader.getSystemClassLoader();
        try (InputStream in = from.getResourceAsStream(name + ".class")) {
            return in == null ? null : in.readAllBytes();
        } catch (IOException | RuntimeException e) {
            return null;
        }
    }

    /**
     * Which of the targets the class (given by its header) is or implements,
     * through its superclasses and their interfaces; null when none.
     */
    String findSupertype(ClassLoader loader, String superName, String[] interfaces,
            Set<String> targets) {
        ArrayDeque<String> todo = new ArrayDeque<>();
        Set<String> seen = new HashSet<>();
        if (superName != null) todo.add(superName);
        Collections.addAll(todo, interfaces);
        int steps = 0;
        while (!todo.isEmpty() && steps++ < MAX_STEPS) {
            String name = todo.poll();
            if (targets.contains(name)) return name;
            if (!seen.add(name) || name.equals("java/lang/Object")) continue;
            Info info = info(loader, name);
            if (info == null) continue;
            if (info.superName != null) todo.add(info.superName);
            Collections.addAll(todo, info.interfaces);
        }
        return null;
    }

    /**
     * The nearest common superclass of two classes, as the class writer needs
     * it for stack map frames; java/lang/Object when either is an interface.
     * Throws when a class cannot be found: a guess could make the JVM reject
     * the class, while the throw leaves it as it was.
     */
    String commonSuperClass(ClassLoader loader, String a, String b) {
        if (a.equals(b)) return a;
        Set<String> supersOfA = new HashSet<>();
        for (String t = a; t != null; t = superOf(loader, t)) {
            if (!supersOfA.add(t) || supersOfA.size() > MAX_STEPS) break;
            if (infoOrThrow(loader, t).isInterface) return "java/lang/Object";
        }
        int steps = 0;
        for (String t = b; t != null && steps++ < MAX_STEPS; t = superOf(loader, t)) {
            if (infoOrThrow(loader, t).isInterface) return "java/lang/Object";
            if (supersOfA.contains(t)) return t;
        }
        return "java/lang/Object";
    }

    private String superOf(ClassLoader loader, String name) {
        return name.equals("java/lang/Object") ? null : infoOrThrow(loader, name).superName;
    }

    private Info infoOrThrow(ClassLoader loader, String name) {
        if (name.equals("java/lang/Object")) return new Info(null, new String[0], false);
        Info info = info(loader, name);
        if (info == null) throw new IllegalStateException("class " + name + " not found");
        return info;
    }
}
