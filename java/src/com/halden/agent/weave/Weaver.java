package com.halden.agent.weave;

import com.halden.agent.asm.ClassVisitor;
import com.halden.agent.asm.MethodVisitor;
import com.halden.agent.asm.Opcodes;
import com.halden.agent.asm.Type;
import com.halden.agent.asm.commons.AdviceAdapter;
import java.util.Arrays;
import java.util.Set;

/** Applies a class's plan: the advice per method and, for statements, their SQL text. */
final class Weaver extends ClassVisitor {
    static final String PREPARED_TEXT = "com/halden/agent/PreparedText";
    private static final String SQL_FIELD = "halden$sql";
    private static final Set<String> EXECUTES = Set.of("execute", "executeQuery",
            "executeUpdate", "executeBatch", "executeLargeUpdate", "executeLargeBatch");

    private final Transformer.Plan plan;
    private String className;

    Weaver(ClassVisitor next, Transformer.Plan plan) {
        super(Opcodes.ASM9, next);
        this.plan = plan;
    }

    @Override
    public void visit(int version, int access, String name, String signature, String superName,
            String[] interfaces) {
        className = name;
        if (plan.preparedText && !Arrays.asList(interfaces).contains(PREPARED_TEXT)) {
            interfaces = Arrays.copyOf(interfaces, interfaces.length + 1);
            interfaces[interfaces.length - 1] = PREPARED_TEXT;
        }
        super.visit(version, access, name, signature, superName, interfaces);
    }

    @Override
    public MethodVisitor visitMethod(int access, String name, String descriptor,
            String signature, String[] exceptions) {
        MethodVisitor mv = super.visitMethod(access, name, descriptor, signature, exceptions);
        if (mv == null || (access & (ACC_ABSTRACT_OR_NATIVE | Opcodes.ACC_STATIC)) != 0
                || name.startsWith("<")) {
            return mv;
        }
        if (plan.servletApi != null && name.equals("service")
                && descriptor.equals(Transformer.serviceDescriptor(plan.servletApi))) {
            return new ServletAdvice(mv, access, name, descriptor, plan);
        }
        if (plan.httpClient && descriptor.startsWith("()") && (name.equals("connect")
                || name.equals("getInputStream") || name.equals("getOutputStream"))) {
            return new InvokeAdvice(mv, access, name, descriptor);
        }
        if (plan.statement && EXECUTES.contains(name)) {
            return new SqlAdvice(mv, access, name, descriptor, className, plan.preparedText);
        }
        if (plan.connection && (name.equals("prepareStatement") || name.equals("prepareCall"))
                && descriptor.startsWith("(Ljava/lang/String;")
                && Type.getReturnType(descriptor).getSort() == Type.OBJECT) {
            return new PrepareAdvice(mv, access, name, descriptor);
        }
        return mv;
    }

    private static final int ACC_ABSTRACT_OR_NATIVE = Opcodes.ACC_ABSTRACT | Opcodes.ACC_NATIVE;

    @Override
    public void visitEnd() {
        if (plan.preparedText) addPreparedText();
        super.visitEnd();
    }

    /** The field that holds a prepared statement's text and its two accessors. */
    private void addPreparedText() {
        int synthetic = Opcodes.ACC_SYNTHETIC;
        cv.visitField(Opcodes.ACC_PRIVATE | Opcodes.ACC_TRANSIENT | Opcodes.ACC_VOLATILE
                | synthetic, SQL_FIELD, "Ljava/lang/String;", null, null).visitEnd();
        MethodVisitor get = cv.visitMethod(Opcodes.ACC_PUBLIC | synthetic, "halden$sql",
                "()Ljava/lang/String;", null, null);
        get.visitCode();
        get.visitVarInsn(Opcodes.ALOAD, 0);
        get.visitFieldInsn(Opcodes.GETFIELD, className, SQL_FIELD, "Ljava/lang/String;");
        get.visitInsn(Opcodes.ARETURN);
        get.visitMaxs(0, 0);
        get.visitEnd();
        MethodVisitor set = cv.visitMethod(Opcodes.ACC_PUBLIC | synthetic, "halden$setSql",
                "(Ljava/lang/String;)V", null, null);
        set.visitCode();
        set.visitVarInsn(Opcodes.ALOAD, 0);
        set.visitVarInsn(Opcodes.ALOAD, 1);
        set.visitFieldInsn(Opcodes.PUTFIELD, className, SQL_FIELD, "Ljava/lang/String;");
        set.visitInsn(Opcodes.RETURN);
        set.visitMaxs(0, 0);
        set.visitEnd();
    }

    /** HttpServlet.service(request, response): one HTTP request. */
    static final class ServletAdvice extends Around {
        private final String request;
        private final String response;
        private final boolean hasStatus;

        ServletAdvice(MethodVisitor mv, int access, String name, String descriptor,
                Transformer.Plan plan) {
            super(mv, access, name, descriptor);
            request = plan.servletApi + "/HttpServletRequest";
            response = plan.servletApi + "/HttpServletResponse";
            hasStatus = plan.responseHasStatus;
        }

        private void requestText(String method) {
            visitVarInsn(ALOAD, 1);
            visitMethodInsn(INVOKEINTERFACE, request, method, "()Ljava/lang/String;", true);
        }

        @Override
        void enter() {
            visitVarInsn(ALOAD, 0);
            visitVarInsn(ALOAD, 1);
            requestText("getRequestURI");
            requestText("getQueryString");
            requestText("getContextPath");
            requestText("getMethod");
            visitVarInsn(ALOAD, 1);
            visitLdcInsn(com.halden.agent.Hooks.TOKEN_HEADER);
            visitMethodInsn(INVOKEINTERFACE, request, "getHeader",
                    "(Ljava/lang/String;)Ljava/lang/String;", true);
            hook("servletEnter", "(Ljava/lang/Object;Ljava/lang/Object;Ljava/lang/String;"
                    + "Ljava/lang/String;Ljava/lang/String;Ljava/lang/String;Ljava/lang/String;)V");
        }

        @Override
        void exit() {
            if (hasStatus) {
                visitVarInsn(ALOAD, 2);
                visitMethodInsn(INVOKEINTERFACE, response, "getStatus", "()I", true);
            } else {
                visitInsn(ICONST_0);
            }
            hook("servletExit", "(I)V");
        }

        @Override
        void threw() {
            visitInsn(DUP);
            hook("servletThrew", "(Ljava/lang/Throwable;)V");
        }
    }

    /** A statement's execute method: one SQL request. */
    static final class SqlAdvice extends Around {
        private final boolean textArgument;
        private final String owner;
        private final boolean preparedText;

        SqlAdvice(MethodVisitor mv, int access, String name, String descriptor, String owner,
                boolean preparedText) {
            super(mv, access, name, descriptor);
            Type[] arguments = Type.getArgumentTypes(descriptor);
            textArgument = arguments.length > 0
                    && arguments[0].getDescriptor().equals("Ljava/lang/String;");
            this.owner = owner;
            this.preparedText = preparedText;
        }

        @Override
        void enter() {
            if (textArgument) {
                visitVarInsn(ALOAD, 1);
            } else if (preparedText) {
                // Through the accessor: a subclass keeps the text in its own field.
                visitVarInsn(ALOAD, 0);
                visitMethodInsn(INVOKEVIRTUAL, owner, "halden$sql", "()Ljava/lang/String;",
                        false);
            } else {
                visitInsn(ACONST_NULL);
            }
            hook("sqlEnter", "(Ljava/lang/String;)V");
        }

        @Override
        void exit() {
            hook("sqlExit", "()V");
        }

        @Override
        void threw() {
            hook("sqlExit", "()V");
        }
    }

    /** HttpURLConnection.connect, getInputStream, getOutputStream: an outgoing call. */
    static final class InvokeAdvice extends Around {
        InvokeAdvice(MethodVisitor mv, int access, String name, String descriptor) {
            super(mv, access, name, descriptor);
        }

        @Override
        void enter() {
            visitVarInsn(ALOAD, 0);
            hook("invokeEnter", "(Ljava/net/HttpURLConnection;)V");
        }

        @Override
        void exit() {
            hook("invokeExit", "()V");
        }

        @Override
        void threw() {
            hook("invokeExit", "()V");
        }
    }

    /** Connection.prepareStatement / prepareCall: the statement learns its text. */
    static final class PrepareAdvice extends AdviceAdapter {
        PrepareAdvice(MethodVisitor mv, int access, String name, String descriptor) {
            super(Opcodes.ASM9, mv, access, name, descriptor);
        }

        @Override
        protected void onMethodExit(int opcode) {
            if (opcode != ARETURN) return;
            visitInsn(DUP);
            visitVarInsn(ALOAD, 1);
            visitMethodInsn(INVOKESTATIC, Around.HOOKS, "prepared",
                    "(Ljava/lang/Object;Ljava/lang/String;)V", false);
        }
    }
}
