package com.halden.agent.weave;

import com.halden.agent.asm.Label;
import com.halden.agent.asm.MethodVisitor;
import com.halden.agent.asm.Opcodes;
import com.halden.agent.asm.commons.AdviceAdapter;

/**
 * Wraps a method body in an enter hook and an exit hook that run in pairs:
 * the exit hook before every return, the thrown hook in a catch-all handler
 * that rethrows. The handler is the last entry of the exception table, so
 * the method's own handlers still see their exceptions first.
 */
abstract class Around extends AdviceAdapter {
    static final String HOOKS = "com/halden/agent/Hooks";

    private final Label start = new Label();
    private final Label handler = new Label();

    Around(MethodVisitor mv, int access, String name, String descriptor) {
        super(Opcodes.ASM9, mv, access, name, descriptor);
    }

    /** Code at the method's entry. */
    abstract void enter();

    /** Code before each return; the return value, if any, is on the stack. */
    abstract void exit();

    /** Code in the handler, with the throwable on the stack; it must stay there. */
    abstract void threw();

    void hook(String name, String descriptor) {
        visitMethodInsn(INVOKESTATIC, HOOKS, name, descriptor, false);
    }

    @Override
    protected void onMethodEnter() {
        enter();
        visitLabel(start);
    }

    @Override
    protected void onMethodExit(int opcode) {
        if (opcode != ATHROW) exit();
    }

    @Override
    public void visitMaxs(int maxStack, int maxLocals) {
        visitLabel(handler);
        visitTryCatchBlock(start, handler, handler, null);
        threw();
        visitInsn(ATHROW);
        super.visitMaxs(maxStack, maxLocals);
    }
}
