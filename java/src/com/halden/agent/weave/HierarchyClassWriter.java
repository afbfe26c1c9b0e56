package com.halden.agent.weave;

import com.halden.agent.asm.ClassReader;
import com.halden.agent.asm.ClassWriter;

/**
 * A class writer that computes stack map frames with the superclasses read
 * from class files through the loader of the class being woven, instead of
 * loading classes (which could load them in the wrong loader, or recurse
 * into the class that is being defined).
 */
final class HierarchyClassWriter extends ClassWriter {
    private final ClassHierarchy hierarchy;
    private final ClassLoader loader;

    HierarchyClassWriter(ClassReader reader, ClassHierarchy hierarchy, ClassLoader loader) {
        super(reader, ClassWriter.COMPUTE_FRAMES);
        this.hierarchy = hierarchy;
        this.loader = loader;
    }

    @Override
    protected String getCommonSuperClass(String type1, String type2) {
        return hierarchy.commonSuperClass(loader, type1, type2);
    }
}
