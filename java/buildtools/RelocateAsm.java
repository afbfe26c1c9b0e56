import java.io.IOException;
import java.io.InputStream;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.Enumeration;
import java.util.jar.JarEntry;
import java.util.jar.JarFile;
import org.objectweb.asm.ClassReader;
import org.objectweb.asm.ClassWriter;
import org.objectweb.asm.commons.ClassRemapper;
import org.objectweb.asm.commons.Remapper;

/**
 * Build step: copies the classes of the given ASM jars into a directory with
 * their package moved under the agent's own (org/objectweb/asm/... becomes
 * PREFIX/...), every reference inside them rewritten alike by ASM's own
 * remapper, so that the agent's copy never meets an application's copy.
 *
 * <pre>java RelocateAsm OUTPUT_DIR PREFIX JAR...</pre>
 */
public final class RelocateAsm {
    private static final String FROM = "org/objectweb/asm";

    public static void main(String[] args) throws IOException {
        Path out = Paths.get(args[0]);
        String prefix = args[1];
        Remapper remapper = new Remapper() {
            @Override
            public String map(String name) {
                return name.equals(FROM) || name.startsWith(FROM + "/")
                        ? prefix + name.substring(FROM.length()) : name;
            }
        };
        for (int i = 2; i < args.length; i++) {
            try (JarFile jar = new JarFile(args[i])) {
                for (Enumeration<JarEntry> e = jar.entries(); e.hasMoreElements();) {
                    JarEntry entry = e.nextElement();
                    String name = entry.getName();
                    if (!name.endsWith(".class") || !name.startsWith(FROM + "/")) continue;
                    byte[] bytes;
                    try (InputStream in = jar.getInputStream(entry)) {
                        bytes = in.readAllBytes();
                    }
                    ClassWriter writer = new ClassWriter(0);
                    new ClassReader(bytes).accept(new ClassRemapper(writer, remapper), 0);
                    Path target = out.resolve(remapper.map(name.substring(0, name.length() - 6))
                            + ".class");
                    Files.createDirectories(target.getParent());
                    Files.write(target, writer.toByteArray());
                }
            }
        }
    }
}
