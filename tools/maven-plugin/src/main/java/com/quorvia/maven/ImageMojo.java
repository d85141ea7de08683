package com.quorvia.maven;

import java.io.File;
import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Comparator;
import java.util.HashSet;
import java.util.List;
import java.util.Map;
import java.util.Set;
import java.util.stream.Stream;

import org.apache.maven.plugin.MojoExecutionException;
import org.apache.maven.plugins.annotations.LifecyclePhase;
import org.apache.maven.plugins.annotations.Mojo;
import org.apache.maven.plugins.annotations.ResolutionScope;

/**
 * Lays out the app image, the folder to install: target/image/FINALNAME.exe, the project's jar and
 * its runtime dependencies in lib/, and the Windows runtime of the runtime setting in jre/, as
 * quorvia-pack --image does, which also checks the image and fails the build on a FAIL.
 */
@Mojo(name = "image", defaultPhase = LifecyclePhase.PACKAGE, threadSafe = true,
        requiresDependencyResolution = ResolutionScope.RUNTIME)
public class ImageMojo extends QuorviaMojo {
    @Override
    String goal() {
        return "image";
    }

    @Override
    Set<String> groups() {
        return new HashSet<>(Arrays.asList("exe", "image"));
    }

    /** In an image, out is the exe's file name inside it. */
    @Override
    boolean keptAsWritten(String name) {
        return name.equals("out");
    }

    @Override
    void prepare(Map<String, List<String>> settings) throws MojoExecutionException {
        if (!settings.containsKey("image")) {
            // The default folder is the build's own: emptied, so that nothing of an earlier build
            // (an exe of another name, a jar no longer used) reaches the image or the MSI.
            File image = new File(buildDirectory(), "image");
            delete(image);
            put(settings, "image", image.getAbsolutePath());
        }
        putIfAbsent(settings, "out", project.getBuild().getFinalName() + ".exe");
        putProjectVersion(settings);
        // The exe runs the first jar of lib/: the project's, unless a setting names another.
        List<String> libs = new ArrayList<>();
        if (!settings.containsKey("classes") && !settings.containsKey("jarPath")) {
            libs.add(projectJar().getAbsolutePath());
        }
        if (copyDependencies) {
            List<String> entries = new ArrayList<>();
            for (Map.Entry<String, File> jar : dependencies().entrySet()) {
                File file = jar.getValue();
                if (!file.getName().equals(jar.getKey())) {
                    // The packer copies a jar under its own name: give it one under the name it gets.
                    File renamed = new File(toolDirectory, "dependencies");
                    copy(file, renamed, jar.getKey());
                    file = new File(renamed, jar.getKey());
                }
                libs.add(file.getAbsolutePath());
                entries.add("#/" + LIB + "/" + jar.getKey());
            }
            // The packer puts lib/ on the class path itself unless a class path is given.
            String given = single(settings, "classPath");
            if (given != null && !entries.isEmpty()) {
                put(settings, "classPath", (given.isEmpty() ? "" : given + ";") + String.join(";", entries));
            }
        }
        List<String> written = settings.get("lib");
        if (written != null) libs.addAll(written);
        if (!libs.isEmpty()) settings.put("lib", libs);
    }

    private static void delete(File folder) throws MojoExecutionException {
        if (!folder.exists()) return;
        try (Stream<Path> paths = Files.walk(folder.toPath())) {
            for (Path path : (Iterable<Path>) paths.sorted(Comparator.reverseOrder())::iterator) Files.delete(path);
        } catch (IOException e) {
            throw new MojoExecutionException("quorvia: cannot empty " + folder + ": " + e.getMessage(), e);
        }
    }
}
