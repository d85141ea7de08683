package com.quorvia.maven;

import java.io.File;
import java.util.Arrays;
import java.util.HashSet;
import java.util.List;
import java.util.Map;
import java.util.Set;

import org.apache.maven.plugin.MojoExecutionException;
import org.apache.maven.plugins.annotations.LifecyclePhase;
import org.apache.maven.plugins.annotations.Mojo;
import org.apache.maven.plugins.annotations.Parameter;
import org.apache.maven.plugins.annotations.ResolutionScope;

/**
 * Lays out the app image as the image goal does and builds its Windows Installer package,
 * target/FINALNAME.msi, as quorvia-pack --msi does; upgradeCode is required. The company and
 * product name default to the project's organization and name.
 */
@Mojo(name = "msi", defaultPhase = LifecyclePhase.PACKAGE, threadSafe = true,
        requiresDependencyResolution = ResolutionScope.RUNTIME)
public class MsiMojo extends ImageMojo {
    /**
     * false builds the MSI of the image as it is (target/image, or image), made by an image goal
     * before and signed, say, in between; the settings are then those of the MSI alone.
     */
    @Parameter(property = "quorvia.buildImage", defaultValue = "true")
    private boolean buildImage;

    @Override
    String goal() {
        return buildImage ? "msi" : "msi with buildImage false";
    }

    @Override
    Set<String> groups() {
        return new HashSet<>(buildImage ? Arrays.asList("exe", "image", "msi") : Arrays.asList("msi"));
    }

    @Override
    void prepare(Map<String, List<String>> settings) throws MojoExecutionException {
        if (!buildImage) {
            putIfAbsent(settings, "image", new File(buildDirectory(), "image").getAbsolutePath());
            putIfAbsent(settings, "msi", msiFile().getAbsolutePath());
            return;
        }
        // Windows Installer compares three fields: 1.0 is 1.0.0, and a fourth is left out.
        String version = numericVersion(project.getVersion());
        if (version != null) {
            String[] fields = (version + ".0.0").split("\\.");
            putIfAbsent(settings, "productVersion", fields[0] + "." + fields[1] + "." + fields[2]);
        }
        // The MSI's manufacturer and name: the project's organization and name, unless set.
        if (project.getOrganization() != null && project.getOrganization().getName() != null) {
            putIfAbsent(settings, "company", project.getOrganization().getName());
        }
        if (project.getModel().getName() != null) putIfAbsent(settings, "productName", project.getModel().getName());
        super.prepare(settings);
        putIfAbsent(settings, "msi", msiFile().getAbsolutePath());
    }

    private File msiFile() {
        return new File(buildDirectory(), project.getBuild().getFinalName() + ".msi");
    }
}
