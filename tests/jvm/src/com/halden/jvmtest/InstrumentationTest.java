package com.halden.jvmtest;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.halden.jvmtest.support.ChildJvm;
import com.halden.jvmtest.support.RunResult;
import com.halden.jvmtest.support.TempHome;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.Map;
import java.util.TreeMap;
import javax.tools.JavaCompiler;
import javax.tools.ToolProvider;
import org.junit.jupiter.api.Test;

/**
 * Load-time instrumentation in one real JVM that verifies every class (-Xverify:all), with
 * small classes compiled for Java 8 and set to class-file version 48.0, the newest the hook
 * handles. The launcher class weblogic.Server starts the hand-over to a test BcmBootstrap; the
 * final-class definer is rewritten ahead by the library's rewriter.
 */
class InstrumentationTest {
    private static final String DEFINE = "(Ljava/lang/String;[BII)Ljava/lang/Class;";

    private static final Map<String, String> SOURCES = new TreeMap<>();

    static {
        SOURCES.put("weblogic/Server", "package weblogic;\n"
                + "public class Server {\n"
                + "  public static void main(String[] a) throws Exception {\n"
                + "    for (String step : new String[] {\"app.JavaSide\", \"app.NativeSide\"})\n"
                + "      Class.forName(step).getMethod(\"run\").invoke(null);\n"
                + "    Class<?> b = Class.forName(\"com.halden.bcm.bootstrap.BcmBootstrap\");\n"
                + "    System.out.println(\"[i] fromJvmpi \" + b.getField(\"fromJvmpi\").get(null));\n"
                + "    System.out.println(\"[i] fromStatic \" + b.getField(\"fromStatic\").get(null));\n"
                + "  }\n}\n");
        SOURCES.put("app/JavaSide", "package app;\n"
                + "public class JavaSide {\n"
                + "  public static void run() {\n"
                + "    System.out.println(\"[i] greeting \" + Greeting.text());\n"
                + "    System.out.println(\"[i] recursive \" + Recursive.text());\n"
                + "    System.out.println(\"[i] later \" + Later.text() + \" \" + org.x.Quiet.text());\n"
                + "  }\n}\n");
        for (String n : new String[] {"app/Greeting", "app/Recursive", "app/Later", "app/Payload",
                "org/x/Quiet"}) {
            String simple = n.substring(n.lastIndexOf('/') + 1);
            SOURCES.put(n, "package " + n.substring(0, n.lastIndexOf('/')).replace('/', '.')
                    + ";\npublic class " + simple
                    + " { public static String text() { return \"BEFORE\"; } }\n");
        }
        SOURCES.put("app/NativeSide", "package app;\n"
                + "public class NativeSide {\n"
                + "  public static void run() throws Exception {\n"
                + "    java.io.InputStream in = ClassLoader.getSystemResourceAsStream(\"app/Payload.bin\");\n"
                + "    byte[] raw = new byte[4096];\n"
                + "    int n = 0;\n"
                + "    for (int r; (r = in.read(raw, n, raw.length - n)) > 0; ) n += r;\n"
                + "    byte[] padded = new byte[n + 3];\n"
                + "    System.arraycopy(raw, 0, padded, 3, n);\n"
                + "    show(\"Definer\", new Definer().load(padded, 3, n));\n"
                + "    show(\"StaticDefiner\", StaticDefiner.define(new Definer(), padded, 3, n));\n"
                + "    show(\"FinalDefiner\", new FinalDefiner().load(padded, 3, n));\n"
                + "  }\n"
                + "  static void show(String how, Class<?> c) throws Exception {\n"
                + "    System.out.println(\"[i] \" + how + \" \" + c.getMethod(\"text\").invoke(null));\n"
                + "  }\n}\n");
        SOURCES.put("app/Definer", "package app;\n"
                + "public class Definer extends ClassLoader {\n"
                + "  private Class<?> defineClass0(String n, byte[] b, int o, int l)\n"
                + "      throws ClassFormatError { return defineClass(n, b, o, l); }\n"
                + "  public Class<?> load(byte[] b, int o, int l) { return defineClass0(\"app.Payload\", b, o, l); }\n"
                + "  public Class<?> open(String n, byte[] b, int o, int l) { return defineClass(n, b, o, l); }\n"
                + "}\n");
        SOURCES.put("app/StaticDefiner", "package app;\n"
                + "public class StaticDefiner {\n"
                + "  private static Class<?> defineClass0(ClassLoader c, String n, byte[] b, int o, int l)\n"
                + "      throws ClassFormatError { return ((Definer) c).open(n, b, o, l); }\n"
                + "  public static Class<?> define(ClassLoader c, byte[] b, int o, int l) {\n"
                + "    return defineClass0(c, \"app.Payload\", b, o, l);\n  }\n}\n");
        SOURCES.put("app/FinalDefiner", "package app;\n"
                + "public final class FinalDefiner extends ClassLoader {\n"
                + "  Class<?> defineClass0(String n, byte[] b, int o, int l)\n"
                + "      throws ClassFormatError { return defineClass(n, b, o, l); }\n"
                + "  public Class<?> load(byte[] b, int o, int l) { return defineClass0(\"app.Payload\", b, o, l); }\n"
                + "}\n");
        SOURCES.put("com/halden/bcm/bootstrap/BcmBootstrap", "package com.halden.bcm.bootstrap;\n"
                + "import java.util.*;\n"
                + "public final class BcmBootstrap {\n"
                + "  public static final List<String> fromJvmpi = new ArrayList<>();\n"
                + "  public static final List<String> fromStatic = new ArrayList<>();\n"
                + "  public static byte[] instrumentClassFromJVMPI(byte[] b, String name) {\n"
                + "    fromJvmpi.add(name);\n"
                + "    if (name.equals(\"app.Recursive\")) {\n"
                + "      new ClassLoader(null) { Class<?> d() { return defineClass(name, b, 0, b.length); } }.d();\n"
                + "      return after(b);\n    }\n"
                + "    return name.equals(\"app.Greeting\") || name.equals(\"app.Later\") ? after(b) : null;\n  }\n"
                + "  public static byte[] instrumentClassStatic(ClassLoader l, String name, byte[] b, int o, int n) {\n"
                + "    fromStatic.add(l.getClass().getSimpleName() + \":\" + name + \":\" + o);\n"
                + "    return after(Arrays.copyOfRange(b, o, o + n));\n  }\n"
                + "  static byte[] after(byte[] b) {\n"
                + "    String s = new String(b, java.nio.charset.StandardCharsets.ISO_8859_1);\n"
                + "    return s.replace(\"BEFORE\", \"AFTER!\").getBytes(java.nio.charset.StandardCharsets.ISO_8859_1);\n  }\n"
                + "  public static native void defineNativeMethodsForClassNative(Class<?> t, String n);\n"
                + "}\n");
    }

    @Test
    void launcherHandOverAndWrappedDefineClassRunUnderTheVerifier() throws Exception {
        try (TempHome home = TempHome.create()) {
            Path classes = compile(home.path().resolve("src"), home.path().resolve("classes"));
            // The payload travels as bytes, never loaded from the class path.
            Files.move(classes.resolve("app/Payload.class"), classes.resolve("app/Payload.bin"));
            Path finalDefiner = classes.resolve("app/FinalDefiner.class");
            Path original = home.path().resolve("FinalDefiner.orig");
            Files.move(finalDefiner, original);
            Process tool = new ProcessBuilder(ChildJvm.buildDir().resolve("class_rewrite").toString(),
                    original.toString(), finalDefiner.toString(),
                    "app.FinalDefiner:app.FinalDefiner:defineClass0:" + DEFINE + ":0:1:2:3:4")
                    .inheritIO().start();
            assertEquals(0, tool.waitFor());

            Path props = home.path().resolve("instrument.properties");
            String key = "com.qel.morvan.kepa.jvmpi.";
            Files.write(props, (key + "instrumentDefineClass=true\n"
                    + key + "classLoader=app.Definer:app.Definer:defineClass0:" + DEFINE
                    + ":0:1:2:3:4\n"
                    + key + "proxy=app.StaticDefiner:app.StaticDefiner:defineClass0:"
                    + "(Ljava/lang/ClassLoader;Ljava/lang/String;[BII)Ljava/lang/Class;:0:1:2:3:4\n")
                    .getBytes(StandardCharsets.UTF_8));

            RunResult run = ChildJvm.in(home).classPathFirst(classes)
                    .environment("XRPSKEPA_PROPS", props.toString())
                    .jvmArgs("-Xverify:all").main("weblogic.Server").run();
            String all = run.describe();
            assertEquals(0, run.exitCode(), all);
            assertTrue(run.hasStdoutLine("[i] greeting AFTER!"), all);
            assertTrue(run.hasStdoutLine("[i] recursive BEFORE"), all);
            // The recursion case leaves later answers in force; an org class
            // is never handed over.
            assertTrue(run.hasStdoutLine("[i] later AFTER! BEFORE"), all);
            // Each definer's call went through the wrapper, which defined
            // instrumentClassStatic's answer from offset 0.
            for (String definer : new String[] {"Definer", "StaticDefiner", "FinalDefiner"}) {
                assertTrue(run.hasStdoutLine("[i] " + definer + " AFTER!"), all);
            }
            assertTrue(run.hasStdoutLine("[i] fromStatic [Definer:app.Payload:3, "
                    + "Definer:app.Payload:3, FinalDefiner:app.Payload:3]"), all);
            // The recursive load was not handed over again; the class-loader
            // target was handed over and then wrapped, and after it nothing.
            assertTrue(run.hasStdoutLine("[i] fromJvmpi [weblogic.Server, app.JavaSide, "
                    + "app.Greeting, app.Recursive, app.Later, app.NativeSide, app.Definer]"), all);
            assertTrue(run.hasStdoutLine("InstrumentJNI: turning off JVMPI ClassLoadHook"), all);
            assertFalse(all.contains("VerifyError"), all);
        }
    }

    /** Compiles the sources for Java 8; the classes outside com.halden become version 48.0. */
    private static Path compile(Path src, Path out) throws Exception {
        List<String> args = new ArrayList<>(List.of("--release", "8", "-nowarn", "-d", out.toString()));
        for (Map.Entry<String, String> e : SOURCES.entrySet()) {
            Path file = src.resolve(e.getKey() + ".java");
            Files.createDirectories(file.getParent());
            Files.write(file, e.getValue().getBytes(StandardCharsets.UTF_8));
            args.add(file.toString());
        }
        JavaCompiler javac = ToolProvider.getSystemJavaCompiler();
        assertEquals(0, javac.run(null, null, null, args.toArray(new String[0])));
        for (String name : SOURCES.keySet()) {
            if (name.startsWith("com/")) continue;
            Path file = out.resolve(name + ".class");
            byte[] bytes = Files.readAllBytes(file);
            bytes[4] = bytes[5] = bytes[6] = 0;
            bytes[7] = 48;
            Files.write(file, bytes);
        }
        return out;
    }
}
