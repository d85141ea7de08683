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
import org.apache.maven.plugin.descriptor.MojoDescriptor;
import org.apache.maven.plugin.descriptor.PluginDescriptor;
import org.apache.maven.plugins.annotations.Parameter;
import org.apache.maven.project.MavenProject;
import org.codehaus.plexus.component.configurator.expression.ExpressionEvaluationException;
import org.codehaus.plexus.util.xml.Xpp3Dom;

/**
 * What the plugin's goals share: they run the quorvia-pack carried in this plugin for the build
 * machine (Linux x64 or Windows x64). Every packing option of that quorvia-pack is a setting, in
 * camel case (--product-name is productName): the plugin asks the packer for its options
 * (--list-options), so it takes exactly the options of the packer it runs, and refuses any other.
 * The listing also says what each option shapes (the exe, the app image or the MSI), and a goal
 * takes only the options of what it makes.
 */
abstract class QuorviaMojo extends AbstractMojo {
    private static final String BUNDLED = "/com/quorvia/maven/bundled/";
    static final String LIB = "lib";
    private static final String[] LAUNCHERS = {"launcher.exe", "launcher-console.exe", "launcher-service.exe"};

    /** A quorvia-pack argument file (@FILE) read after the settings. */
    @Parameter
    private File argumentFile;

    /** Copy the runtime dependencies into lib/ beside the exe and put them on its class path. */
    @Parameter(property = "quorvia.copyDependencies", defaultValue = "true")
    boolean copyDependencies;

    /** A quorvia-pack to run instead of the bundled one, e.g. on a machine it was not built for. */
    @Parameter(property = "quorvia.packer")
    private File packer;

    @Parameter(property = "quorvia.skip", defaultValue = "false")
    private boolean skip;

    /** Where the bundled tool and launchers are unpacked. */
    @Parameter(defaultValue = "${project.build.directory}/quorvia", readonly = true)
    File toolDirectory;

    @Parameter(defaultValue = "${project}", readonly = true, required = true)
    MavenProject project;

    @Parameter(defaultValue = "${session}", readonly = true, required = true)
    private MavenSession session;

    @Parameter(defaultValue = "${mojoExecution}", readonly = true, required = true)
    private MojoExecution mojoExecution;

    /** A packing option as quorvia-pack --list-options describes it. */
    static final class PackOption {
        final String option;
        final String kind;  // flag, text or path
        final String group;  // what it shapes: exe, image or msi

        PackOption(String option, String kind, String group) {
            this.option = option;
            this.kind = kind;
            this.group = group;
        }
    }

    /** The goal's name, and the option groups it takes (exe, image, msi). */
    abstract String goal();

    abstract Set<String> groups();

    /** Whether a setting of this kind "path" names a file inside what is built, kept as written. */
    boolean keptAsWritten(String name) {
        return false;
    }

    /** Completes the settings with the goal's defaults before the packer runs. */
    abstract void prepare(Map<String, List<String>> settings) throws MojoExecutionException;

    /** After a packer run that succeeded. */
    void finish(File tool, Map<String, List<String>> settings) throws MojoExecutionException, MojoFailureException {
    }

    @Override
    public void execute() throws MojoExecutionException, MojoFailureException {
        if (skip) {
            getLog().info("quorvia: skipped");
            return;
        }
        File tool = packer != null ? packer : unpackBundledTool();
        Map<String, PackOption> options = listOptions(tool);
        Map<String, List<String>> settings = packerSettings(options);
        prepare(settings);
        if (packer != null && groups().contains("exe") && !settings.containsKey("launcher")) {
            // Another packer has no bundled launchers beside it: name ours (when an exe is packed).
            String launcher = settings.containsKey("service") ? "launcher-service.exe"
                    : "true".equals(single(settings, "console")) ? "launcher-console.exe" : "launcher.exe";
            settings.remove("console");
            put(settings, "launcher", unpack(launcher, false).getAbsolutePath());
        }

        List<String> command = new ArrayList<>();
        command.add(tool.getAbsolutePath());
        for (Map.Entry<String, List<String>> setting : settings.entrySet()) {
            PackOption option = options.get(setting.getKey());
            for (String value : setting.getValue()) {
                if (option.kind.equals("flag")) {
                    if (value.equals("true")) command.add(option.option);
                } else {
                    // One --option=VALUE argument: a value starting with '@' (the runtime home in a
                    // class path) or '#' (the exe's folder) then reaches the tool as written.
                    command.add(option.option + "=" + value);
                }
            }
        }
        if (argumentFile != null) command.add("@" + argumentFile.getAbsolutePath());
        List<String> lines = new ArrayList<>();
        int status = run(command, lines);
        for (String line : lines) {
            if (line.startsWith("FAIL")) getLog().error(line);
            else if (line.startsWith("WARN")) getLog().warn(line);
            else if (status == 0) getLog().info(line);
            else getLog().error(line);
        }
        if (status != 0) throw new MojoFailureException("quorvia-pack failed with exit status " + status);
        finish(tool, settings);
    }

    static String single(Map<String, List<String>> settings, String name) {
        List<String> values = settings.get(name);
        return values == null || values.isEmpty() ? null : values.get(values.size() - 1);
    }

    static void put(Map<String, List<String>> settings, String name, String value) {
        List<String> values = new ArrayList<>();
        values.add(value);
        settings.put(name, values);
    }

    static void putIfAbsent(Map<String, List<String>> settings, String name, String value) {
        if (!settings.containsKey(name)) put(settings, name, value);
    }

    /** fileVersion and productVersion, where not set: the leading numbers of the project's version. */
    void putProjectVersion(Map<String, List<String>> settings) {
        String version = numericVersion(project.getVersion());
        if (version == null) return;
        putIfAbsent(settings, "fileVersion", version);
        putIfAbsent(settings, "productVersion", version);
    }

    File buildDirectory() {
        return new File(project.getBuild().getDirectory());
    }

    File projectJar() {
        return new File(buildDirectory(), project.getBuild().getFinalName() + ".jar");
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
            String[] fields = line.split("\t", 4);
            if (fields.length < 3 || !fields[0].startsWith("--")) {
                throw new MojoExecutionException("quorvia: " + tool + " --list-options printed '" + line + "'");
            }
            options.put(settingName(fields[0]), new PackOption(fields[0], fields[1], fields[2]));
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
     * made absolute against the project; an option written more than once (fileAssociation, lib)
     * is given to the packer each time. A setting that is neither a setting of one of the plugin's
     * goals nor a packer option ends the build: it would otherwise be ignored without a word. So does
     * an option of what another goal makes (runtime in pack) written in this execution, with the goal
     * to use; written for the whole plugin, it is left to the goals that take it.
     */
    private Map<String, List<String>> packerSettings(Map<String, PackOption> options) throws MojoExecutionException {
        Set<String> own = new HashSet<>();
        for (MojoDescriptor goal : mojoExecution.getMojoDescriptor().getPluginDescriptor().getMojos()) {
            for (org.apache.maven.plugin.descriptor.Parameter p : goal.getParameters()) own.add(p.getName());
        }
        PluginParameterExpressionEvaluator evaluator = new PluginParameterExpressionEvaluator(session, mojoExecution);
        Map<String, List<String>> settings = new LinkedHashMap<>();
        Set<String> unknown = new TreeSet<>();
        Set<String> inExecution = new HashSet<>();
        for (List<Xpp3Dom> written : writtenConfiguration(inExecution)) {
            String name = written.get(0).getName();
            if (own.contains(name)) continue;
            PackOption option = options.get(name);
            if (option == null) {
                unknown.add(name);
                continue;
            }
            // The image is what the MSI is built from, so its folder is a setting of every goal that reads it.
            boolean taken = groups().contains(option.group) || (name.equals("image") && groups().contains("msi"));
            if (!taken && !inExecution.contains(name)) continue;  // the plugin's, for its other goals
            if (!taken) {
                throw new MojoExecutionException("quorvia: <" + name + "> shapes the "
                        + (option.group.equals("msi") ? "MSI: it is a setting of the msi goal"
                           : option.group.equals("image") ? "app image: it is a setting of the image and msi goals"
                                                          : "exe: it is a setting of the pack, image and msi goals")
                        + ", not of " + goal());
            }
            List<String> values = new ArrayList<>();
            for (Xpp3Dom child : written) values.add(settingValue(evaluator, name, option, child.getValue()));
            settings.put(name, values);
        }
        if (!unknown.isEmpty()) {
            Set<String> known = new TreeSet<>();
            for (Map.Entry<String, PackOption> option : options.entrySet()) {
                if (groups().contains(option.getValue().group)) known.add(option.getKey());
            }
            for (org.apache.maven.plugin.descriptor.Parameter p : mojoExecution.getMojoDescriptor().getParameters()) {
                if (p.isEditable()) known.add(p.getName());
            }
            throw new MojoExecutionException("quorvia: unknown setting" + (unknown.size() > 1 ? "s " : " ")
                    + String.join(", ", unknown) + "; the settings of " + goal() + " are " + String.join(", ", known));
        }
        return settings;
    }

    private String settingValue(PluginParameterExpressionEvaluator evaluator, String name, PackOption option,
            String written) throws MojoExecutionException {
        String value = evaluate(evaluator, name, written);
        if (option.kind.equals("flag")) {
            value = value.trim();
            if (!value.equals("true") && !value.equals("false")) {
                throw new MojoExecutionException("quorvia: <" + name + "> is true or false, not '" + value + "'");
            }
        } else if (option.kind.equals("path") && !value.isEmpty() && !keptAsWritten(name)) {
            File file = new File(value);
            value = (file.isAbsolute() ? file : new File(project.getBasedir(), value)).getAbsolutePath();
        }
        return value;
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
     * The configuration as written in the pom, the plugin's and then this execution's, each name
     * with all the elements written under it: Maven hands a mojo only the settings it declares, and
     * the packer's options are not declared here. The execution's elements of a name replace the
     * plugin's; `inExecution` gets the names written in the execution.
     */
    private List<List<Xpp3Dom>> writtenConfiguration(Set<String> inExecution) {
        PluginDescriptor descriptor = mojoExecution.getMojoDescriptor().getPluginDescriptor();
        Map<String, List<Xpp3Dom>> children = new LinkedHashMap<>();
        Plugin plugin = project.getBuild().getPluginsAsMap().get(descriptor.getGroupId() + ":" + descriptor.getArtifactId());
        if (plugin != null) {
            Set<String> pluginWide = addChildren(children, plugin.getConfiguration());
            PluginExecution execution = plugin.getExecutionsAsMap().get(mojoExecution.getExecutionId());
            // Maven has already merged the plugin's configuration into the execution's.
            if (execution != null) inExecution.addAll(addChildren(children, execution.getConfiguration()));
            inExecution.removeAll(pluginWide);
        }
        return new ArrayList<>(children.values());
    }

    private static Set<String> addChildren(Map<String, List<Xpp3Dom>> children, Object configuration) {
        if (!(configuration instanceof Xpp3Dom)) return new HashSet<>();
        Map<String, List<Xpp3Dom>> level = new LinkedHashMap<>();
        for (Xpp3Dom child : ((Xpp3Dom) configuration).getChildren()) {
            level.computeIfAbsent(child.getName(), k -> new ArrayList<>()).add(child);
        }
        children.putAll(level);
        return level.keySet();
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

    /**
     * The project's runtime dependencies, each with the file name it gets in lib/: its own, or
     * GROUP.NAME where two groups ship a jar of the same name.
     */
    Map<String, File> dependencies() {
        Map<String, File> jars = new LinkedHashMap<>();
        for (Artifact artifact : project.getArtifacts()) {
            File file = artifact.getFile();
            if (file == null || !file.isFile() || !artifact.getArtifactHandler().isAddedToClasspath()) continue;
            String name = file.getName();
            if (jars.containsKey(name)) name = artifact.getGroupId() + "." + name;
            jars.put(name, file);
        }
        return jars;
    }

    /** Copies FILE to FOLDER/NAME, making FOLDER. */
    static void copy(File file, File folder, String name) throws MojoExecutionException {
        try {
            Files.createDirectories(folder.toPath());
            Files.copy(file.toPath(), new File(folder, name).toPath(), StandardCopyOption.REPLACE_EXISTING);
        } catch (IOException e) {
            throw new MojoExecutionException("quorvia: cannot copy " + file + " to " + folder + ": " + e.getMessage(), e);
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
        // quorvia-pack takes the launchers beside it: launcher.exe, launcher-console.exe for
        // --console and launcher-service.exe for --service.
        File tool = unpack(name, true);
        for (String launcher : LAUNCHERS) {
            unpack(launcher, false, new File(tool.getParentFile(), launcher));
        }
        return tool;
    }

    File unpack(String name, boolean executable) throws MojoExecutionException {
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
    int run(List<String> command, List<String> lines) throws MojoExecutionException {
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
