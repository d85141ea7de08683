package com.quorvia.maven;

import java.io.BufferedReader;
import java.io.File;
import java.io.IOException;
import java.io.InputStream;
import java.io.InputStreamReader;
import java.nio.charset.Charset;
import java.nio.file.Files;
import java.nio.file.StandardCopyOption;
import java.util.ArrayList;
import java.util.List;
import java.util.Locale;

import org.apache.maven.plugin.AbstractMojo;
import org.apache.maven.plugin.MojoExecutionException;
import org.apache.maven.plugin.MojoFailureException;
import org.apache.maven.plugins.annotations.LifecyclePhase;
import org.apache.maven.plugins.annotations.Mojo;
import org.apache.maven.plugins.annotations.Parameter;

/**
 * Packs the project's jar into a Windows exe: runs the quorvia-pack carried in this plugin for the
 * build machine (Linux x64 or Windows x64) with the settings below, which are quorvia-pack's options.
 */
@Mojo(name = "pack", defaultPhase = LifecyclePhase.PACKAGE, threadSafe = true)
public class PackMojo extends AbstractMojo {
    private static final String BUNDLED = "/com/quorvia/maven/bundled/";

    /** The exe to write (--out). */
    @Parameter(defaultValue = "${project.build.directory}/${project.build.finalName}.exe", required = true)
    private File out;

    /** The application jar embedded in the exe (--classes); by default the project's own jar. */
    @Parameter(defaultValue = "${project.build.directory}/${project.build.finalName}.jar")
    private File classes;

    /** --main-class */
    @Parameter
    private String mainClass;

    /** --class-path */
    @Parameter
    private String classPath;

    /** --vm-options */
    @Parameter
    private String vmOptions;

    /** --jar-path */
    @Parameter
    private String jarPath;

    /** --config-path */
    @Parameter
    private String configPath;

    /** --sync-path */
    @Parameter
    private String syncPath;

    /** --md5 */
    @Parameter
    private String md5;

    /** --init-heap-percent */
    @Parameter
    private Integer initHeapPercent;

    /** --max-heap-percent */
    @Parameter
    private Integer maxHeapPercent;

    /** --splash */
    @Parameter
    private File splash;

    /** A quorvia-pack argument file (@FILE) read after the settings above. */
    @Parameter
    private File argumentFile;

    /** The launcher to pack (--launcher); by default the bundled launcher.exe. */
    @Parameter
    private File launcher;

    /** Use the bundled console launcher, launcher-console.exe, when no launcher is named. */
    @Parameter(defaultValue = "false")
    private boolean console;

    /** A quorvia-pack to run instead of the bundled one, e.g. on a machine it was not built for. */
    @Parameter(property = "quorvia.packer")
    private File packer;

    @Parameter(property = "quorvia.skip", defaultValue = "false")
    private boolean skip;

    /** Where the bundled tool and launchers are unpacked. */
    @Parameter(defaultValue = "${project.build.directory}/quorvia", readonly = true)
    private File toolDirectory;

    @Override
    public void execute() throws MojoExecutionException, MojoFailureException {
        if (skip) {
            getLog().info("quorvia: skipped");
            return;
        }
        File tool = packer != null ? packer : unpackBundledTool();
        List<String> command = new ArrayList<>();
        command.add(tool.getAbsolutePath());
        if (launcher != null) {
            add(command, "--launcher", launcher);
        } else if (console) {
            add(command, "--launcher", unpack("launcher-console.exe", false));
        } else if (packer != null) {
            add(command, "--launcher", unpack("launcher.exe", false));
        }
        add(command, "--out", out);
        add(command, "--classes", classes);
        add(command, "--main-class", mainClass);
        add(command, "--class-path", classPath);
        add(command, "--vm-options", vmOptions);
        add(command, "--jar-path", jarPath);
        add(command, "--config-path", configPath);
        add(command, "--sync-path", syncPath);
        add(command, "--md5", md5);
        add(command, "--init-heap-percent", initHeapPercent);
        add(command, "--max-heap-percent", maxHeapPercent);
        add(command, "--splash", splash);
        if (argumentFile != null) command.add("@" + argumentFile.getAbsolutePath());
        run(command);
    }

    /**
     * One option and its value as a single --option=VALUE argument: a value starting with '@' (the
     * runtime home in a class path) or '#' (the exe's folder) then reaches the tool as written.
     */
    private static void add(List<String> command, String option, Object value) {
        if (value == null) return;
        command.add(option + "=" + (value instanceof File ? ((File) value).getAbsolutePath() : value.toString()));
    }

    private File unpackBundledTool() throws MojoExecutionException {
        String os = System.getProperty("os.name", "").toLowerCase(Locale.ROOT);
        String arch = System.getProperty("os.arch", "").toLowerCase(Locale.ROOT);
        boolean x64 = arch.equals("amd64") || arch.equals("x86_64");
        String name;
        if (os.startsWith("windows") && x64) {
            name = "windows-x64/quorvia-pack.exe";
        } else if (os.startsWith("linux") && x64) {
            name = "linux-x64/quorvia-pack";
        } else {
            throw new MojoExecutionException("quorvia: no bundled quorvia-pack for " + os + " " + arch
                    + "; name one with <packer>");
        }
        // quorvia-pack takes the launcher.exe beside it by default.
        File tool = unpack(name, true);
        unpack("launcher.exe", false, new File(tool.getParentFile(), "launcher.exe"));
        return tool;
    }

    private File unpack(String name, boolean executable) throws MojoExecutionException {
        return unpack(name, executable, new File(toolDirectory, name));
    }

    private File unpack(String name, boolean executable, File target) throws MojoExecutionException {
        try (InputStream in = PackMojo.class.getResourceAsStream(BUNDLED + name)) {
            if (in == null) throw new MojoExecutionException("quorvia: this plugin carries no " + name);
            File folder = target.getParentFile();
            if (!folder.isDirectory() && !folder.mkdirs()) throw new IOException("cannot create " + folder);
            Files.copy(in, target.toPath(), StandardCopyOption.REPLACE_EXISTING);
        } catch (IOException e) {
            throw new MojoExecutionException("quorvia: cannot unpack " + name + " to " + target + ": "
                    + e.getMessage(), e);
        }
        if (executable && !target.setExecutable(true)) {
            throw new MojoExecutionException("quorvia: cannot make " + target + " executable");
        }
        return target;
    }

    private void run(List<String> command) throws MojoExecutionException, MojoFailureException {
        getLog().debug("quorvia: " + String.join(" ", command));
        int status;
        List<String> lines = new ArrayList<>();
        try {
            Process process = new ProcessBuilder(command).redirectErrorStream(true).start();
            try (BufferedReader output = new BufferedReader(
                    new InputStreamReader(process.getInputStream(), Charset.defaultCharset()))) {
                for (String line; (line = output.readLine()) != null; ) lines.add(line);
            }
            status = process.waitFor();
        } catch (IOException e) {
            throw new MojoExecutionException("quorvia: cannot run " + command.get(0) + ": " + e.getMessage(), e);
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
            throw new MojoExecutionException("quorvia: interrupted while packing", e);
        }
        for (String line : lines) {
            if (status == 0) getLog().info(line);
            else getLog().error(line);
        }
        if (status != 0) throw new MojoFailureException("quorvia-pack failed with exit status " + status);
    }
}
