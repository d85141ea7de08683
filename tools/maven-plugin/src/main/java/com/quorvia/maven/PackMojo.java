package com.quorvia.maven;

import java.io.File;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.HashSet;
import java.util.List;
import java.util.Map;
import java.util.Set;

import org.apache.maven.plugin.MojoExecutionException;
import org.apache.maven.plugin.MojoFailureException;
import org.apache.maven.plugins.annotations.LifecyclePhase;
import org.apache.maven.plugins.annotations.Mojo;
import org.apache.maven.plugins.annotations.Parameter;
import org.apache.maven.plugins.annotations.ResolutionScope;

/**
 * Packs the project's jar into a Windows exe, target/FINALNAME.exe, with the runtime dependencies
 * copied into lib/ beside it, and runs quorvia-pack --check on it.
 */
@Mojo(name = "pack", defaultPhase = LifecyclePhase.PACKAGE, threadSafe = true,
        requiresDependencyResolution = ResolutionScope.RUNTIME)
public class PackMojo extends QuorviaMojo {
    /** Run quorvia-pack --check on the exe and fail the build when a check fails. */
    @Parameter(property = "quorvia.check", defaultValue = "true")
    private boolean check;

    @Override
    String goal() {
        return "pack";
    }

    @Override
    Set<String> groups() {
        return new HashSet<>(Arrays.asList("exe"));
    }

    @Override
    void prepare(Map<String, List<String>> settings) throws MojoExecutionException {
        File out = settings.containsKey("out") ? new File(single(settings, "out"))
                : new File(buildDirectory(), project.getBuild().getFinalName() + ".exe");
        put(settings, "out", out.getAbsolutePath());
        putIfAbsent(settings, "classes", projectJar().getAbsolutePath());
        putProjectVersion(settings);
        if (!copyDependencies) return;
        File lib = new File(out.getAbsoluteFile().getParentFile(), LIB);
        List<String> entries = new ArrayList<>();
        for (Map.Entry<String, File> jar : dependencies().entrySet()) {
            copy(jar.getValue(), lib, jar.getKey());
            entries.add("#/" + LIB + "/" + jar.getKey());
        }
        if (entries.isEmpty()) return;
        getLog().info("quorvia: copied " + entries.size() + " dependencies to " + lib);
        String given = single(settings, "classPath");
        String libraries = String.join(";", entries);
        put(settings, "classPath", given == null || given.isEmpty() ? libraries : given + ";" + libraries);
    }

    /** quorvia-pack --check on the exe: WARN lines are warnings, a FAIL ends the build. */
    @Override
    void finish(File tool, Map<String, List<String>> settings) throws MojoExecutionException, MojoFailureException {
        if (!check) return;
        String exe = single(settings, "out");
        List<String> command = new ArrayList<>(Arrays.asList(tool.getAbsolutePath(), "--check", exe));
        List<String> lines = new ArrayList<>();
        int status = run(command, lines);
        for (String line : lines) {
            if (line.startsWith("FAIL")) getLog().error(line);
            else if (line.startsWith("WARN")) getLog().warn(line);
            else getLog().info(line);
        }
        if (status != 0) {
            throw new MojoFailureException("quorvia-pack --check " + exe + " failed (exit status " + status
                    + "); <check>false</check> or -Dquorvia.check=false packs without it");
        }
    }
}
