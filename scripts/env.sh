# Sourced by the scripts: picks the JDK 17 the project builds and tests with.
if [ -d /usr/lib/jvm/java-17-openjdk-amd64 ]; then
  export JAVA_HOME=/usr/lib/jvm/java-17-openjdk-amd64
elif [ -z "${JAVA_HOME:-}" ]; then
  JAVA_HOME=$(dirname "$(dirname "$(readlink -f "$(command -v javac)")")")
  export JAVA_HOME
fi
export PATH="$JAVA_HOME/bin:$PATH"
JOBS=$(nproc 2>/dev/null || echo 2)
export JOBS
