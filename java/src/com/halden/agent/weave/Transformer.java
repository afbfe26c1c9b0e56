package com.halden.agent.weave;

import com.halden.agent.AgentLog;
import com.halden.agent.AgentOptions;
import com.halden.agent.asm.ClassReader;
import com.halden.agent.asm.ClassWriter;
import com.halden.agent.asm.Opcodes;
import java.lang.instrument.ClassFileTransformer;
import java.lang.instrument.Instrumentation;
import java.nio.charset.StandardCharsets;
import java.security.ProtectionDomain;
import java.util.Set;

/**
 * Decides for every class the JVM loads whether it is one the agent
 * instruments (a servlet's service method, a JDBC statement or connection
 * implementation, the JDK's HTTP client connection) and weaves it. Most
 * classes are turned away by a look at their constant pool. A class that
 * cannot be woven is left as it was, with one line said about it.
 */
public final class Transformer implements ClassFileTransformer {
    private static final String HTTP_CLIENT = "sun/net/www/protocol/http/HttpURLConnection";
    private static final String[] SERVLET_APIS = {"javax/servlet/http", "jakarta/servlet/http"};
    private static final Set<String> STATEMENTS = Set.of("java/sql/Statement",
            "java/sql/PreparedStatement", "java/sql/CallableStatement");
    private static final Set<String> CONNECTIONS = Set.of("java/sql/Connection");
    private static final String[] JDBC_NAMES = {"execute", "executeQuery", "executeUpdate",
            "executeBatch", "executeLargeUpdate", "executeLargeBatch", "prepareStatement",
            "prepareCall"};
    /** The agent's own packages, which it never instruments. */
    private static final String[] OWN = {"com/halden/agent/", "com/halden/probe/",
            "com/halden/bcm/", "com/halden/command/", "com/halden/network/",
            "com/halden/publish/", "com/halden/qs5/", "com/halden/qs6/", "com/halden/qsportal/"};

    /** What to weave into one class. */
    static final class Plan {
        String servletApi;
        boolean responseHasStatus;
        boolean httpClient;
        boolean statement;
        boolean connection;
        boolean preparedText;

        boolean any() {
            return servletApi != null || httpClient || statement || connection;
        }
    }

    private final AgentOptions options;
    private final ClassHierarchy hierarchy = new ClassHierarchy();

    public Transformer(AgentOptions options) {
        this.options = options;
    }

    static String serviceDescriptor(String api) {
        return "(L" + api + "/HttpServletRequest;L" + api + "/HttpServletResponse;)V";
    }

    @Override
    public byte[] transform(ClassLoader loader, String className, Class<?> redefined,
            ProtectionDomain domain, byte[] bytes) {
        if (className == null || bytes == null || isOwn(className)) return null;
        try {
            ClassReader reader = new ClassReader(bytes);
            if ((reader.getAccess() & (Opcodes.ACC_INTERFACE | Opcodes.ACC_MODULE)) != 0) {
                return null;
            }
            Plan plan = plan(loader, className, reader, bytes, redefined != null);
            if (!plan.any()) return null;
            ClassWriter writer = new HierarchyClassWriter(reader, hierarchy, loader);
            reader.accept(new Weaver(writer, plan), ClassReader.SKIP_FRAMES);
            return writer.toByteArray();
        } catch (Throwable t) {
            AgentLog.once("weave " + className, "cannot instrument " + className.replace('/', '.')
                    + ", left unchanged: " + t);
            return null;
        }
    }

    static boolean isOwn(String className) {
        for (String prefix : OWN) {
            if (className.startsWith(prefix)) return true;
        }
        return false;
    }

    private Plan plan(ClassLoader loader, String className, ClassReader reader, byte[] bytes,
            boolean redefining) {
        Plan plan = new Plan();
        if (loader == null || loader == ClassLoader.getPlatformClassLoader()) {
            // The JDK's classes: only its HTTP client connection.
            plan.httpClient = options.httpClient && className.equals(HTTP_CLIENT);
            return plan;
        }
        if (options.servlet) {
            for (String api : SERVLET_APIS) {
                if (hasText(reader, bytes, serviceDescriptor(api))) {
                    plan.servletApi = api;
                    byte[] response = ClassHierarchy.classBytes(loader,
                            api + "/HttpServletResponse");
                    plan.responseHasStatus = response != null
                            && hasText(new ClassReader(response), response, "getStatus");
                    break;
                }
            }
        }
        if (options.jdbc && hasAnyText(reader, bytes, JDBC_NAMES)) {
            String[] interfaces = reader.getInterfaces();
            plan.statement = hierarchy.findSupertype(loader, reader.getSuperName(), interfaces,
                    STATEMENTS) != null;
            plan.connection = hierarchy.findSupertype(loader, reader.getSuperName(), interfaces,
                    CONNECTIONS) != null;
            // A class being redefined cannot gain a field.
            plan.preparedText = plan.statement && !redefining;
        }
        return plan;
    }

    private static boolean hasAnyText(ClassReader reader, byte[] b, String[] texts) {
        for (String text : texts) {
            if (hasText(reader, b, text)) return true;
        }
        return false;
    }

    /** True when the class's constant pool holds the text as a UTF-8 entry. */
    static boolean hasText(ClassReader reader, byte[] b, String text) {
        byte[] wanted = text.getBytes(StandardCharsets.UTF_8);
        for (int i = 1; i < reader.getItemCount(); i++) {
            int offset = reader.getItem(i);
            // 1 is CONSTANT_Utf8; the second slot of a long or double has no offset.
            if (offset == 0 || b[offset - 1] != 1) continue;
            if (reader.readUnsignedShort(offset) != wanted.length) continue;
            int start = offset + 2;
            boolean same = true;
            for (int k = 0; k < wanted.length && same; k++) same = b[start + k] == wanted[k];
            if (same) return true;
        }
        return false;
    }

    /**
     * Weaves the JDK's HTTP client connection if it was loaded before the
     * agent started. The agent starts before the application's main, so the
     * servlet and JDBC classes load later and are woven as they load; of
     * the classes it instruments only the JDK's can be there already. (The
     * class is loaded here if it was not: it is then woven as it loads, and
     * the retransformation weaves its original bytes once more, to the same
     * result. Asking the JVM for all loaded classes instead would make
     * -Xcheck:jni warn about the JDK's own agent.)
     */
    public void retransformLoaded(Instrumentation inst) {
        if (!options.httpClient || !inst.isRetransformClassesSupported()) return;
        try {
            Class<?> c = Class.forName(HTTP_CLIENT.replace('/', '.'), false, null);
            if (inst.isModifiableClass(c)) inst.retransformClasses(c);
        } catch (Throwable t) {
            AgentLog.once("retransform", "cannot instrument " + HTTP_CLIENT.replace('/', '.')
                    + ": " + t);
        }
    }
}
