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
import java.util.HashSet;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Locale;
import java.util.Map;
import java.util.Set;
import java.util.TreeSet;
import java.util.regex.Matcher;
import java.util.regex.Pattern;

import org.apache.maven.artifact.Artifact;
import org.apache.maven.execution.MavenSession;
import org.apache.maven.model.Plugin;
import org.apache.maven.model.PluginExecution;
import org.apache.maven.plugin.AbstractMojo;
import org.apache.maven.plugin.MojoExecution;
import org.apache.maven.plugin.MojoExecutionException;
import org.apache.maven.plugin.MojoFailureException;
import org.apache.maven.plugin.PluginParameterExpressionEvaluator;
import org.apache.maven.plugin.descriptor.PluginDescriptor;
import org.apache.maven.plugins.annotations.LifecyclePhase;
import org.apache.maven.plugins.annotations.Mojo;
import org.apache.maven.plugins.annotations.Parameter;
import org.apache.maven.plugins.annotations.ResolutionScope;
import org.apache.maven.project.MavenProject;
import org.codehaus.plexus.component.configurator.expression.ExpressionEvaluationException;
import org.codehaus.plexus.util.xml.Xpp3Dom;

/**
 * Packs the project's jar into a Windows exe: runs the quorvia-pack carried in this plugin for the
 * build machine (Linux x64 or Windows x64). Every packing option of that quorvia-pack is a setting,
 * in camel case (--product-name is productName): the plugin asks the packer for its options
 * (--list-options), so it takes exactly the options of the packer it runs, and refuses any other.
 */
@Mojo(name = "pack", defaultPhase = LifecyclePhase.PACKAGE, threadSafe = true,
        requiresDependencyResolution = ResolutionScope.RUNTIME)
public class PackMojo extends AbstractMojo {
    private static final String BUNDLED = "/com/quorvia/maven/bundled/";
    private static final String LIB = "lib";

    /** A quorvia-pack argument file (@FILE) read after the settings. */
    @Parameter
    private File argumentFile;

    /** Copy the runtime dependencies into lib/ beside the exe and put them on its class path. */
    @Parameter(property = "quorvia.copyDependencies", defaultValue = "true")
    private boolean copyDependencies;

    /** Run quorvia-pack --check on the exe and fail the build when a check fails. */
    @Parameter(property = "quorvia.check", defaultValue = "true")
    private boolean check;

    /** A quorvia-pack to run instead of the bundled one, e.g. on a machine it was not built for. */
    @Parameter(property = "quorvia.packer")
    private File packer;

    @Parameter(property = "quorvia.skip", defaultValue = "false")
    private boolean skip;

    /** Where the bundled tool and launchers are unpacked. */
    @Parameter(defaultValue = "${project.build.directory}/quorvia", readonly = true)
    private File toolDirectory;

    @Parameter(defaultValue = "${project}", readonly = true, required = true)
    private MavenProject project;

    @Parameter(defaultValue = "${session}", readonly = true, required = true)
    private MavenSession session;

    @Parameter(defaultValue = "${mojoExecution}", readonly = true, required = true)
    private MojoExecution mojoExecution;

    /** A packing option as quorvia-pack --list-options describes it. */
    private static final class PackOption {
        final String option;
        final String kind;  // flag, text or path

        PackOption(String option, String kind) {
            this.option = option;
            this.kind = kind;
        }
    }

    @Override
    public void execute() throws MojoExecutionException, MojoFailureException {
        if (skip) {
            getLog().info("quorvia: skipped");
            return;
        }
        File tool = packer != null ? packer : unpackBundledTool();
        Map<String, PackOption> options = listOptions(tool);
        Map<String, String> settings = packerSettings(options);

        File out = settings.containsKey("out") ? new File(settings.get("out"))
                : new File(project.getBuild().getDirectory(), project.getBuild().getFinalName() + ".exe");
        settings.put("out", out.getAbsolutePath());
        if (!settings.containsKey("classes")) {
            settings.put("classes", new File(project.getBuild().getDirectory(),
                    project.getBuild().getFinalName() + ".jar").getAbsolutePath());
        }
        String version = numericVersion(project.getVersion());
        if (version != null) {
            settings.putIfAbsent("fileVersion", version);
            settings.putIfAbsent("productVersion", version);
        }
        if (packer != null && !settings.containsKey("launcher")) {
            // Another packer has no bundled launchers beside it: name ours.
            boolean console = "true".equals(settings.remove("console"));
            settings.put("launcher", unpack(console ? "launcher-console.exe" : "launcher.exe", false).getAbsolutePath());
        }
        if (copyDependencies) {
            String libraries = copyDependencies(out.getAbsoluteFile().getParentFile());
            if (!libraries.isEmpty()) {
                String given = settings.get("classPath");
                settings.put("classPath", given == null || given.isEmpty() ? libraries : given + ";" + libraries);
            }
        }

        List<String> command = new ArrayList<>();
        command.add(tool.getAbsolutePath());
        for (Map.Entry<String, String> setting : settings.entrySet()) {
            PackOption option = options.get(setting.getKey());
            if (option.kind.equals("flag")) {
                if (setting.getValue().equals("true")) command.add(option.option);
            } else {
                // One --option=VALUE argument: a value starting with '@' (the runtime home in a class
                // path) or '#' (the exe's folder) then reaches the tool as written.
                command.add(option.option + "=" + setting.getValue());
            }
        }
        if (argumentFile != null) command.add("@" + argumentFile.getAbsolutePath());
        List<String> lines = new ArrayList<>();
        int status = run(command, lines);
        for (String line : lines) {
            if (status == 0) getLog().info(line);
            else getLog().error(line);
        }
        if (status != 0) throw new MojoFailureException("quorvia-pack failed with exit status " + status);
        if (check) check(tool, out);
    }

    /** The packer's options by setting name: --product-name is productName. */
    private Map<String, PackOption> listOptions(File tool) throws MojoExecutionException {
        List<String> lines = new ArrayList<>();
        List<String> command = new ArrayList<>();
        command.add(tool.getAbsolutePath());
        command.add("--list-options");
        if (run(command, lines) != 0) {
            throw new MojoExecutionException("quorvia: " + tool + " --list-options failed: " + String.join("\n", lines));
        }
        Map<String, PackOption> options = new LinkedHashMap<>();
        for (String line : lines) {
            String[] fields = line.split("\t", 3);
            if (fields.length < 2 || !fields[0].startsWith("--")) {
                throw new MojoExecutionException("quorvia: " + tool + " --list-options printed '" + line + "'");
            }
            options.put(settingName(fields[0]), new PackOption(fields[0], fields[1]));
        }
        return options;
    }

    static String settingName(String option) {
        StringBuilder name = new StringBuilder();
        boolean upper = false;
        for (char c : option.substring(2).toCharArray()) {
            if (c == '-') {
                upper = true;
            } else {
                name.append(upper ? Character.toUpperCase(c) : c);
                upper = false;
            }
        }
        return name.toString();
    }

    /**
     * The settings of this execution that are packer options, with their values evaluated and paths
     * made absolute against the project. A setting that is neither one of the plugin's own nor a
     * packer option ends the build: it would otherwise be ignored without a word.
     */
    private Map<String, String> packerSettings(Map<String, PackOption> options) throws MojoExecutionException {
        Set<String> own = new HashSet<>();
        for (org.apache.maven.plugin.descriptor.Parameter p : mojoExecution.getMojoDescriptor().getParameters()) {
            own.add(p.getName());
        }
        PluginParameterExpressionEvaluator evaluator = new PluginParameterExpressionEvaluator(session, mojoExecution);
        Map<String, String> settings = new LinkedHashMap<>();
        Set<String> unknown = new TreeSet<>();
        for (Xpp3Dom child : writtenConfiguration()) {
            String name = child.getName();
            if (own.contains(name)) continue;
            PackOption option = options.get(name);
            if (option == null) {
                unknown.add(name);
                continue;
            }
            String value = evaluate(evaluator, name, child.getValue());
            if (option.kind.equals("flag")) {
                value = value.trim();
                if (!value.equals("true") && !value.equals("false")) {
                    throw new MojoExecutionException("quorvia: <" + name + "> is true or false, not '" + value + "'");
                }
            } else if (option.kind.equals("path") && !value.isEmpty()) {
                File file = new File(value);
                value = (file.isAbsolute() ? file : new File(project.getBasedir(), value)).getAbsolutePath();
            }
            settings.put(name, value);
        }
        if (!unknown.isEmpty()) {
            Set<String> known = new TreeSet<>(options.keySet());
            for (String name : own) {
                if (!isReadOnly(name)) known.add(name);
            }
            throw new MojoExecutionException("quorvia: unknown setting" + (unknown.size() > 1 ? "s " : " ")
                    + String.join(", ", unknown) + "; the settings are " + String.join(", ", known));
        }
        return settings;
    }

    private boolean isReadOnly(String name) {
        for (org.apache.maven.plugin.descriptor.Parameter p : mojoExecution.getMojoDescriptor().getParameters()) {
            if (p.getName().equals(name)) return !p.isEditable();
        }
        return false;
    }

    private static String evaluate(PluginParameterExpressionEvaluator evaluator, String name, String value)
            throws MojoExecutionException {
        if (value == null) return "";
        try {
            Object evaluated = evaluator.evaluate(value);
            return evaluated == null ? "" : evaluated.toString();
        } catch (ExpressionEvaluationException e) {
            throw new MojoExecutionException("quorvia: <" + name + ">: " + e.getMessage(), e);
        }
    }

    /**
     * The configuration as written in the pom, the plugin's and then this execution's: Maven hands a
     * mojo only the settings it declares, and the packer's options are not declared here.
     */
    private List<Xpp3Dom> writtenConfiguration() {
        PluginDescriptor descriptor = mojoExecution.getMojoDescriptor().getPluginDescriptor();
        Map<String, Xpp3Dom> children = new LinkedHashMap<>();
        Plugin plugin = project.getBuild().getPluginsAsMap().get(descriptor.getGroupId() + ":" + descriptor.getArtifactId());
        if (plugin != null) {
            addChildren(children, plugin.getConfiguration());
            PluginExecution execution = plugin.getExecutionsAsMap().get(mojoExecution.getExecutionId());
            if (execution != null) addChildren(children, execution.getConfiguration());
        }
        return new ArrayList<>(children.values());
    }

    private static void addChildren(Map<String, Xpp3Dom> children, Object configuration) {
        if (!(configuration instanceof Xpp3Dom)) return;
        for (Xpp3Dom child : ((Xpp3Dom) configuration).getChildren()) children.put(child.getName(), child);
    }

    /** The leading N[.N[.N[.N]]] of the project's version (2.1.0 of 2.1.0-SNAPSHOT), or null. */
    static String numericVersion(String version) {
        Matcher m = Pattern.compile("^\\d{1,5}(\\.\\d{1,5}){0,3}").matcher(version == null ? "" : version);
        if (!m.find()) return null;
        for (String part : m.group().split("\\.")) {
            if (Integer.parseInt(part) > 65535) return null;
        }
        return m.group();
    }

    /** Copies the runtime dependencies into FOLDER/lib; returns their class path, "#/lib/a.jar;...". */
    private String copyDependencies(File folder) throws MojoExecutionException {
        File lib = new File(folder, LIB);
        List<String> entries = new ArrayList<>();
        Set<String> names = new HashSet<>();
        for (Artifact artifact : project.getArtifacts()) {
            File file = artifact.getFile();
            if (file == null || !file.isFile() || !artifact.getArtifactHandler().isAddedToClasspath()) continue;
            String name = file.getName();
            if (!names.add(name)) name = artifact.getGroupId() + "." + name;  // same file name, other group
            names.add(name);
            try {
                Files.createDirectories(lib.toPath());
                Files.copy(file.toPath(), new File(lib, name).toPath(), StandardCopyOption.REPLACE_EXISTING);
            } catch (IOException e) {
                throw new MojoExecutionException("quorvia: cannot copy " + file + " to " + lib + ": " + e.getMessage(), e);
            }
            entries.add("#/" + LIB + "/" + name);
        }
        if (!entries.isEmpty()) getLog().info("quorvia: copied " + entries.size() + " dependencies to " + lib);
        return String.join(";", entries);
    }

    /** quorvia-pack --check on the exe: WARN lines are warnings, a FAIL ends the build. */
    private void check(File tool, File exe) throws MojoExecutionException, MojoFailureException {
        List<String> command = new ArrayList<>();
        command.add(tool.getAbsolutePath());
        command.add("--check");
        command.add(exe.getAbsolutePath());
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
        // quorvia-pack takes the launchers beside it: launcher.exe, and launcher-console.exe for --console.
        File tool = unpack(name, true);
        for (String launcher : new String[] {"launcher.exe", "launcher-console.exe"}) {
            unpack(launcher, false, new File(tool.getParentFile(), launcher));
        }
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

    /** Runs the command, collecting its output and error lines; returns its exit status. */
    private int run(List<String> command, List<String> lines) throws MojoExecutionException {
        getLog().debug("quorvia: " + String.join(" ", command));
        try {
            Process process = new ProcessBuilder(command).redirectErrorStream(true).start();
            try (BufferedReader output = new BufferedReader(
                    new InputStreamReader(process.getInputStream(), Charset.defaultCharset()))) {
                for (String line; (line = output.readLine()) != null; ) lines.add(line);
            }
            return process.waitFor();
        } catch (IOException e) {
            throw new MojoExecutionException("quorvia: cannot run " + command.get(0) + ": " + e.getMessage(), e);
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
            throw new MojoExecutionException("quorvia: interrupted while running " + command.get(0), e);
        }
    }
}
